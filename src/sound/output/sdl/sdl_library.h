// SDL2, loaded when the first SDL output opens. It is only the fallback
// output (PipeWire, then PulseAudio, are tried first: default_backend.cpp);
// linked, it made every start-up load it and the nineteen libraries it
// needs, ~7 ms, whether it played or not.
#pragma once

#include <SDL.h>

#include <string>

#include "sound/output/shared_library.h"

namespace pendlo::sound::output::sdl {

// clang-format off
// The functions of SDL2 the output calls, as X(Member, symbol).
#define PENDLO_SDL_FUNCTIONS(X)                     \
  X(SetHint, SDL_SetHint)                           \
  X(InitSubSystem, SDL_InitSubSystem)               \
  X(QuitSubSystem, SDL_QuitSubSystem)               \
  X(GetError, SDL_GetError)                         \
  X(Free, SDL_free)                                 \
  X(GetDefaultAudioInfo, SDL_GetDefaultAudioInfo)   \
  X(OpenAudioDevice, SDL_OpenAudioDevice)           \
  X(PauseAudioDevice, SDL_PauseAudioDevice)         \
  X(CloseAudioDevice, SDL_CloseAudioDevice)         \
  X(GetAudioDeviceStatus, SDL_GetAudioDeviceStatus)
// clang-format on

// The loaded functions of SDL2, a member for each entry of PENDLO_SDL_FUNCTIONS.
struct SdlLibrary {
  PENDLO_SDL_FUNCTIONS(PENDLO_LIBRARY_MEMBER)
};

// The library's functions, loaded on the first call (from any thread) and
// kept; nullptr when it cannot be loaded, the reason then in *why.
const SdlLibrary* LoadSdl(std::string* why);

}  // namespace pendlo::sound::output::sdl
