#include "sound/pulse_library.h"

#include <dlfcn.h>

#include <mutex>
#include <optional>

namespace pendlo {
namespace {

struct Loaded {
  void* handle = nullptr;
  std::optional<PulseLibrary> library;
  std::string error;
};

template <typename F>
bool Find(void* handle, const char* name, F& function, std::string& error) {
  function = reinterpret_cast<F>(dlsym(handle, name));
  if (function == nullptr) error = std::string("libpulse lacks ") + name;
  return function != nullptr;
}

Loaded Load() {
  Loaded loaded;
  void* handle = dlopen("libpulse.so.0", RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    loaded.error = why != nullptr ? why : "libpulse.so.0 cannot be loaded";
    return loaded;
  }
  PulseLibrary l{};
  std::string& e = loaded.error;
  if (Find(handle, "pa_threaded_mainloop_new", l.ThreadedMainloopNew, e) &&
      Find(handle, "pa_threaded_mainloop_free", l.ThreadedMainloopFree, e) &&
      Find(handle, "pa_threaded_mainloop_start", l.ThreadedMainloopStart, e) &&
      Find(handle, "pa_threaded_mainloop_stop", l.ThreadedMainloopStop, e) &&
      Find(handle, "pa_threaded_mainloop_lock", l.ThreadedMainloopLock, e) &&
      Find(handle, "pa_threaded_mainloop_unlock", l.ThreadedMainloopUnlock, e) &&
      Find(handle, "pa_threaded_mainloop_wait", l.ThreadedMainloopWait, e) &&
      Find(handle, "pa_threaded_mainloop_signal", l.ThreadedMainloopSignal, e) &&
      Find(handle, "pa_threaded_mainloop_get_api", l.ThreadedMainloopGetApi, e) &&
      Find(handle, "pa_proplist_new", l.ProplistNew, e) &&
      Find(handle, "pa_proplist_free", l.ProplistFree, e) &&
      Find(handle, "pa_proplist_sets", l.ProplistSets, e) &&
      Find(handle, "pa_context_new_with_proplist", l.ContextNewWithProplist, e) &&
      Find(handle, "pa_context_unref", l.ContextUnref, e) &&
      Find(handle, "pa_context_connect", l.ContextConnect, e) &&
      Find(handle, "pa_context_disconnect", l.ContextDisconnect, e) &&
      Find(handle, "pa_context_set_state_callback", l.ContextSetStateCallback, e) &&
      Find(handle, "pa_context_get_state", l.ContextGetState, e) &&
      Find(handle, "pa_context_errno", l.ContextErrno, e) &&
      Find(handle, "pa_context_rttime_new", l.ContextRttimeNew, e) &&
      Find(handle, "pa_context_rttime_restart", l.ContextRttimeRestart, e) &&
      Find(handle, "pa_context_get_server_info", l.ContextGetServerInfo, e) &&
      Find(handle, "pa_context_get_sink_info_by_name", l.ContextGetSinkInfoByName, e) &&
      Find(handle, "pa_operation_get_state", l.OperationGetState, e) &&
      Find(handle, "pa_operation_cancel", l.OperationCancel, e) &&
      Find(handle, "pa_operation_unref", l.OperationUnref, e) &&
      Find(handle, "pa_stream_new", l.StreamNew, e) &&
      Find(handle, "pa_stream_unref", l.StreamUnref, e) &&
      Find(handle, "pa_stream_connect_playback", l.StreamConnectPlayback, e) &&
      Find(handle, "pa_stream_disconnect", l.StreamDisconnect, e) &&
      Find(handle, "pa_stream_get_state", l.StreamGetState, e) &&
      Find(handle, "pa_stream_set_state_callback", l.StreamSetStateCallback, e) &&
      Find(handle, "pa_stream_set_write_callback", l.StreamSetWriteCallback, e) &&
      Find(handle, "pa_stream_set_underflow_callback", l.StreamSetUnderflowCallback, e) &&
      Find(handle, "pa_stream_begin_write", l.StreamBeginWrite, e) &&
      Find(handle, "pa_stream_write", l.StreamWrite, e) &&
      Find(handle, "pa_stream_cork", l.StreamCork, e) &&
      Find(handle, "pa_stream_update_timing_info", l.StreamUpdateTimingInfo, e) &&
      Find(handle, "pa_stream_get_timing_info", l.StreamGetTimingInfo, e) &&
      Find(handle, "pa_stream_get_buffer_attr", l.StreamGetBufferAttr, e) &&
      Find(handle, "pa_strerror", l.Strerror, e) &&
      Find(handle, "pa_rtclock_now", l.RtclockNow, e)) {
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

}  // namespace

const PulseLibrary* AcquirePulse(std::string* why) {
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

void ReleasePulse() {
  Holds& h = TheHolds();
  std::lock_guard lock(h.mutex);
  if (h.count == 0 || --h.count > 0) return;
  dlclose(h.loaded.handle);
  h.loaded = Loaded{};
}

}  // namespace pendlo
