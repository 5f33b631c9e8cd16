// SDL2, loaded when the first SDL output opens. It is only the fallback
// output (PulseAudio is tried first); linked, it made every start-up load
// it and the nineteen libraries it needs, ~7 ms, whether it played or not.
#pragma once

#include <SDL.h>

#include <string>

namespace pendlo::sound::output::sdl {

struct SdlLibrary {
  decltype(&SDL_SetHint) SetHint;
  decltype(&SDL_InitSubSystem) InitSubSystem;
  decltype(&SDL_QuitSubSystem) QuitSubSystem;
  decltype(&SDL_GetError) GetError;
  decltype(&SDL_free) Free;
  decltype(&SDL_GetDefaultAudioInfo) GetDefaultAudioInfo;
  decltype(&SDL_OpenAudioDevice) OpenAudioDevice;
  decltype(&SDL_PauseAudioDevice) PauseAudioDevice;
  decltype(&SDL_CloseAudioDevice) CloseAudioDevice;
  decltype(&SDL_GetAudioDeviceStatus) GetAudioDeviceStatus;
};

// The library's functions, loaded on the first call (from any thread) and
// kept; nullptr when it cannot be loaded, the reason then in *why.
const SdlLibrary* LoadSdl(std::string* why);

}  // namespace pendlo::sound::output::sdl
