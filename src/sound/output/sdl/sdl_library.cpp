#include "sound/output/sdl/sdl_library.h"

#include "sound/output/shared_library.h"

namespace pendlo::sound::output::sdl {

const SdlLibrary* LoadSdl(std::string* why) {
  // Never unloaded: SDL's threads may outlive any one output.
  static const LoadedLibrary<SdlLibrary> loaded = LoadLibrary<SdlLibrary>(
      "libSDL2-2.0.so.0", "SDL2", [](SymbolFinder& find, SdlLibrary& table) {
        return true PENDLO_SDL_FUNCTIONS(PENDLO_LIBRARY_FIND);
      });
  if (!loaded.table && why != nullptr) *why = loaded.error;
  return loaded.table ? &*loaded.table : nullptr;
}

}  // namespace pendlo::sound::output::sdl
