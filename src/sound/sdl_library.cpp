#include "sound/sdl_library.h"

#include <dlfcn.h>

#include <optional>

namespace pendlo {

namespace {

struct Loaded {
  std::optional<SdlLibrary> library;
  std::string error;
};

template <typename F>
bool Find(void* handle, const char* name, F& function, std::string& error) {
  function = reinterpret_cast<F>(dlsym(handle, name));
  if (function == nullptr) error = std::string("SDL2 lacks ") + name;
  return function != nullptr;
}

Loaded Load() {
  Loaded loaded;
  // Never unloaded: SDL's threads may outlive any one output.
  void* handle = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    loaded.error = why != nullptr ? why : "libSDL2-2.0.so.0 cannot be loaded";
    return loaded;
  }
  SdlLibrary l{};
  std::string& e = loaded.error;
  if (Find(handle, "SDL_SetHint", l.SetHint, e) &&
      Find(handle, "SDL_InitSubSystem", l.InitSubSystem, e) &&
      Find(handle, "SDL_QuitSubSystem", l.QuitSubSystem, e) &&
      Find(handle, "SDL_GetError", l.GetError, e) && Find(handle, "SDL_free", l.Free, e) &&
      Find(handle, "SDL_GetDefaultAudioInfo", l.GetDefaultAudioInfo, e) &&
      Find(handle, "SDL_OpenAudioDevice", l.OpenAudioDevice, e) &&
      Find(handle, "SDL_PauseAudioDevice", l.PauseAudioDevice, e) &&
      Find(handle, "SDL_CloseAudioDevice", l.CloseAudioDevice, e) &&
      Find(handle, "SDL_GetAudioDeviceStatus", l.GetAudioDeviceStatus, e)) {
    loaded.library = l;
  }
  return loaded;
}

}  // namespace

const SdlLibrary* LoadSdl(std::string* why) {
  static const Loaded loaded = Load();
  if (!loaded.library && why != nullptr) *why = loaded.error;
  return loaded.library ? &*loaded.library : nullptr;
}

}  // namespace pendlo
