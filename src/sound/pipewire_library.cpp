#include "sound/pipewire_library.h"

#include <dlfcn.h>
#include <spa/param/audio/format-utils.h>
#include <spa/pod/builder.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <optional>

namespace pendlo {
namespace {

struct Loaded {
  void* handle = nullptr;
  std::optional<PipeWireLibrary> library;
  std::string error;
};

template <typename F>
bool Find(void* handle, const char* name, F& function, std::string& error) {
  function = reinterpret_cast<F>(dlsym(handle, name));
  if (function == nullptr) error = std::string("libpipewire lacks ") + name;
  return function != nullptr;
}

Loaded Load() {
  Loaded loaded;
  void* handle = dlopen("libpipewire-0.3.so.0", RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    loaded.error = why != nullptr ? why : "libpipewire-0.3.so.0 cannot be loaded";
    return loaded;
  }
  PipeWireLibrary l{};
  std::string& e = loaded.error;
  if (Find(handle, "pw_init", l.Init, e) && Find(handle, "pw_deinit", l.Deinit, e) &&
      Find(handle, "pw_thread_loop_new", l.ThreadLoopNew, e) &&
      Find(handle, "pw_thread_loop_destroy", l.ThreadLoopDestroy, e) &&
      Find(handle, "pw_thread_loop_start", l.ThreadLoopStart, e) &&
      Find(handle, "pw_thread_loop_stop", l.ThreadLoopStop, e) &&
      Find(handle, "pw_thread_loop_lock", l.ThreadLoopLock, e) &&
      Find(handle, "pw_thread_loop_unlock", l.ThreadLoopUnlock, e) &&
      Find(handle, "pw_thread_loop_get_loop", l.ThreadLoopGetLoop, e) &&
      Find(handle, "pw_thread_loop_signal", l.ThreadLoopSignal, e) &&
      Find(handle, "pw_thread_loop_get_time", l.ThreadLoopGetTime, e) &&
      Find(handle, "pw_thread_loop_timed_wait_full", l.ThreadLoopTimedWaitFull, e) &&
      Find(handle, "pw_context_new", l.ContextNew, e) &&
      Find(handle, "pw_context_destroy", l.ContextDestroy, e) &&
      Find(handle, "pw_context_add_spa_lib", l.ContextAddSpaLib, e) &&
      Find(handle, "pw_context_load_module", l.ContextLoadModule, e) &&
      Find(handle, "pw_context_connect", l.ContextConnect, e) &&
      Find(handle, "pw_core_disconnect", l.CoreDisconnect, e) &&
      Find(handle, "pw_properties_new", l.PropertiesNew, e) &&
      Find(handle, "pw_stream_new", l.StreamNew, e) &&
      Find(handle, "pw_stream_destroy", l.StreamDestroy, e) &&
      Find(handle, "pw_stream_add_listener", l.StreamAddListener, e) &&
      Find(handle, "pw_stream_connect", l.StreamConnect, e) &&
      Find(handle, "pw_stream_get_state", l.StreamGetState, e) &&
      Find(handle, "pw_stream_dequeue_buffer", l.StreamDequeueBuffer, e) &&
      Find(handle, "pw_stream_queue_buffer", l.StreamQueueBuffer, e) &&
      Find(handle, "pw_stream_get_time_n", l.StreamGetTimeN, e) &&
      Find(handle, "pw_stream_set_active", l.StreamSetActive, e)) {
    l.Init(nullptr, nullptr);
    loaded.library = l;
    loaded.handle = handle;
  } else {
    dlclose(handle);
  }
  return loaded;
}

// The library while held; every field under the mutex.
struct Holds {
  std::mutex mutex;
  Loaded loaded;
  int count = 0;
};

Holds& TheHolds() {
  static Holds holds;
  return holds;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

const PipeWireLibrary* AcquirePipeWire(std::string* why) {
  Holds& h = TheHolds();
  std::lock_guard lock(h.mutex);
  if (h.count == 0) h.loaded = Load();
  if (!h.loaded.library) {
    if (why != nullptr) *why = h.loaded.error;
    return nullptr;
  }
  ++h.count;
  // The library is not moved while held: the pointer stays valid.
  return &*h.loaded.library;
}

void ReleasePipeWire() {
  Holds& h = TheHolds();
  std::lock_guard lock(h.mutex);
  if (h.count == 0 || --h.count > 0) return;
  h.loaded.library->Deinit();
  dlclose(h.loaded.handle);
  h.loaded = Loaded{};
}

const PipeWireLibrary* LoadPipeWire(std::string* why) {
  // One hold never released: the caller keeps the library for good.
  struct Kept {
    const PipeWireLibrary* library = nullptr;
    std::string error;
  };
  static const Kept kept = [] {
    Kept k;
    k.library = AcquirePipeWire(&k.error);
    return k;
  }();
  if (kept.library == nullptr && why != nullptr) *why = kept.error;
  return kept.library;
}

bool PipeWireSocketPresent() {
  const char* remote = std::getenv("PIPEWIRE_REMOTE");
  if (remote != nullptr && *remote != '\0') return true;
  bool looked = false;
  for (const char* variable : {"PIPEWIRE_RUNTIME_DIR", "XDG_RUNTIME_DIR", "USERPROFILE"}) {
    const char* dir = std::getenv(variable);
    if (dir == nullptr || *dir == '\0') continue;
    looked = true;
    if (Exists(std::string(dir) + "/pipewire-0")) return true;
  }
  // With none of them set, only the library knows where to look.
  return !looked;
}

namespace {

pw_context* MinimalContext(const PipeWireLibrary& pw, pw_loop* loop) {
  // "null" reads no file; the properties are the default client
  // configuration's own, without its D-Bus plugin (no module here uses it).
  pw_properties* props = pw.PropertiesNew(PW_KEY_CONFIG_NAME, "null", "log.level", "0",
                                          "support.dbus", "false", nullptr);
  if (props == nullptr) return nullptr;
  pw_context* context = pw.ContextNew(loop, props, 0);  // takes props, also on failure
  if (context == nullptr) return nullptr;
  bool ok =
      pw.ContextAddSpaLib(context, "audio.convert.*", "audioconvert/libspa-audioconvert") >= 0 &&
      pw.ContextAddSpaLib(context, "support.*", "support/libspa-support") >= 0;
  for (const char* module : {"libpipewire-module-protocol-native", "libpipewire-module-client-node",
                             "libpipewire-module-adapter"}) {
    ok = ok && pw.ContextLoadModule(context, module, nullptr, nullptr) != nullptr;
  }
  if (!ok) {
    pw.ContextDestroy(context);
    return nullptr;
  }
  return context;
}

}  // namespace

pw_context* NewPlaybackContext(const PipeWireLibrary& pw, pw_loop* loop) {
  // A library that knows no "null" configuration gets the default one.
  if (pw_context* context = MinimalContext(pw, loop)) return context;
  return pw.ContextNew(loop, nullptr, 0);
}

bool ConnectFloatStream(const PipeWireLibrary& pw, pw_stream* stream, pw_direction direction,
                        int rate, int channels) {
  std::uint8_t buffer[1024];
  spa_pod_builder builder{};
  spa_pod_builder_init(&builder, buffer, sizeof buffer);
  spa_audio_info_raw info{};
  info.format = SPA_AUDIO_FORMAT_F32;
  info.rate = static_cast<std::uint32_t>(rate);
  info.channels = static_cast<std::uint32_t>(channels);
  if (channels == 1) {
    info.position[0] = SPA_AUDIO_CHANNEL_MONO;
  } else {
    info.position[0] = SPA_AUDIO_CHANNEL_FL;
    info.position[1] = SPA_AUDIO_CHANNEL_FR;
  }
  const spa_pod* params[1] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
  const auto flags = static_cast<pw_stream_flags>(
      PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
  return pw.StreamConnect(stream, direction, PW_ID_ANY, flags, params, 1) >= 0;
}

}  // namespace pendlo
