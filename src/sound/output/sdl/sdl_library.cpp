#include "sound/output/sdl/sdl_library.h"

#include "sound/output/shared_library.h"

namespace pendlo::sound::output::sdl {

const SdlLibrary* LoadSdl(std::string* why) {
  // Never unloaded: SDL's threads may outlive any one output.
  static const LoadedLibrary<SdlLibrary> loaded =
      LoadLibrary<SdlLibrary>("libSDL2-2.0.so.0", "SDL2", [](SymbolFinder& find, SdlLibrary& l) {
        return find("SDL_SetHint", l.SetHint) && find("SDL_InitSubSystem", l.InitSubSystem) &&
               find("SDL_QuitSubSystem", l.QuitSubSystem) && find("SDL_GetError", l.GetError) &&
               find("SDL_free", l.Free) && find("SDL_GetDefaultAudioInfo", l.GetDefaultAudioInfo) &&
               find("SDL_OpenAudioDevice", l.OpenAudioDevice) &&
               find("SDL_PauseAudioDevice", l.PauseAudioDevice) &&
               find("SDL_CloseAudioDevice", l.CloseAudioDevice) &&
               find("SDL_GetAudioDeviceStatus", l.GetAudioDeviceStatus);
      });
  if (!loaded.table && why != nullptr) *why = loaded.error;
  return loaded.table ? &*loaded.table : nullptr;
}

}  // namespace pendlo::sound::output::sdl
