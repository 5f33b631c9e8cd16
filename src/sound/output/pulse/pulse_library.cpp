#include "sound/output/pulse/pulse_library.h"

#include "sound/output/shared_library.h"

namespace pendlo::sound::output::pulse {
namespace {

LoadedLibrary<PulseLibrary> Load() {
  return LoadLibrary<PulseLibrary>(
      "libpulse.so.0", "libpulse", [](SymbolFinder& find, PulseLibrary& l) {
        return find("pa_threaded_mainloop_new", l.ThreadedMainloopNew) &&
               find("pa_threaded_mainloop_free", l.ThreadedMainloopFree) &&
               find("pa_threaded_mainloop_start", l.ThreadedMainloopStart) &&
               find("pa_threaded_mainloop_stop", l.ThreadedMainloopStop) &&
               find("pa_threaded_mainloop_lock", l.ThreadedMainloopLock) &&
               find("pa_threaded_mainloop_unlock", l.ThreadedMainloopUnlock) &&
               find("pa_threaded_mainloop_wait", l.ThreadedMainloopWait) &&
               find("pa_threaded_mainloop_signal", l.ThreadedMainloopSignal) &&
               find("pa_threaded_mainloop_get_api", l.ThreadedMainloopGetApi) &&
               find("pa_proplist_new", l.ProplistNew) && find("pa_proplist_free", l.ProplistFree) &&
               find("pa_proplist_sets", l.ProplistSets) &&
               find("pa_context_new_with_proplist", l.ContextNewWithProplist) &&
               find("pa_context_unref", l.ContextUnref) &&
               find("pa_context_connect", l.ContextConnect) &&
               find("pa_context_disconnect", l.ContextDisconnect) &&
               find("pa_context_set_state_callback", l.ContextSetStateCallback) &&
               find("pa_context_get_state", l.ContextGetState) &&
               find("pa_context_errno", l.ContextErrno) &&
               find("pa_context_rttime_new", l.ContextRttimeNew) &&
               find("pa_context_rttime_restart", l.ContextRttimeRestart) &&
               find("pa_context_get_server_info", l.ContextGetServerInfo) &&
               find("pa_context_get_sink_info_by_name", l.ContextGetSinkInfoByName) &&
               find("pa_operation_get_state", l.OperationGetState) &&
               find("pa_operation_cancel", l.OperationCancel) &&
               find("pa_operation_unref", l.OperationUnref) && find("pa_stream_new", l.StreamNew) &&
               find("pa_stream_unref", l.StreamUnref) &&
               find("pa_stream_connect_playback", l.StreamConnectPlayback) &&
               find("pa_stream_disconnect", l.StreamDisconnect) &&
               find("pa_stream_get_state", l.StreamGetState) &&
               find("pa_stream_set_state_callback", l.StreamSetStateCallback) &&
               find("pa_stream_set_write_callback", l.StreamSetWriteCallback) &&
               find("pa_stream_set_underflow_callback", l.StreamSetUnderflowCallback) &&
               find("pa_stream_begin_write", l.StreamBeginWrite) &&
               find("pa_stream_write", l.StreamWrite) && find("pa_stream_cork", l.StreamCork) &&
               find("pa_stream_update_timing_info", l.StreamUpdateTimingInfo) &&
               find("pa_stream_get_timing_info", l.StreamGetTimingInfo) &&
               find("pa_stream_get_buffer_attr", l.StreamGetBufferAttr) &&
               find("pa_strerror", l.Strerror) && find("pa_rtclock_now", l.RtclockNow);
      });
}

HeldLibrary<PulseLibrary>& Held() {
  static HeldLibrary<PulseLibrary> held(&Load, nullptr);
  return held;
}

}  // namespace

const PulseLibrary* AcquirePulse(std::string* why) {
  return Held().Acquire(why);
}

void ReleasePulse() {
  Held().Release();
}

}  // namespace pendlo::sound::output::pulse
