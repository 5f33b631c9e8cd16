// libpulse, loaded when a PulseAudio output opens rather than linked: a
// program playing through PipeWire's own protocol or SDL2 then never maps
// it (nor the codec libraries it pulls in), and a server that refuses the
// output lets it go again.
#pragma once

#include <pulse/pulseaudio.h>

#include <string>

namespace pendlo::sound::output::pulse {

struct PulseLibrary {
  decltype(&pa_threaded_mainloop_new) ThreadedMainloopNew;
  decltype(&pa_threaded_mainloop_free) ThreadedMainloopFree;
  decltype(&pa_threaded_mainloop_start) ThreadedMainloopStart;
  decltype(&pa_threaded_mainloop_stop) ThreadedMainloopStop;
  decltype(&pa_threaded_mainloop_lock) ThreadedMainloopLock;
  decltype(&pa_threaded_mainloop_unlock) ThreadedMainloopUnlock;
  decltype(&pa_threaded_mainloop_wait) ThreadedMainloopWait;
  decltype(&pa_threaded_mainloop_signal) ThreadedMainloopSignal;
  decltype(&pa_threaded_mainloop_get_api) ThreadedMainloopGetApi;
  decltype(&pa_proplist_new) ProplistNew;
  decltype(&pa_proplist_free) ProplistFree;
  decltype(&pa_proplist_sets) ProplistSets;
  decltype(&pa_context_new_with_proplist) ContextNewWithProplist;
  decltype(&pa_context_unref) ContextUnref;
  decltype(&pa_context_connect) ContextConnect;
  decltype(&pa_context_disconnect) ContextDisconnect;
  decltype(&pa_context_set_state_callback) ContextSetStateCallback;
  decltype(&pa_context_get_state) ContextGetState;
  decltype(&pa_context_errno) ContextErrno;
  decltype(&pa_context_rttime_new) ContextRttimeNew;
  decltype(&pa_context_rttime_restart) ContextRttimeRestart;
  decltype(&pa_context_get_server_info) ContextGetServerInfo;
  decltype(&pa_context_get_sink_info_by_name) ContextGetSinkInfoByName;
  decltype(&pa_operation_get_state) OperationGetState;
  decltype(&pa_operation_cancel) OperationCancel;
  decltype(&pa_operation_unref) OperationUnref;
  decltype(&pa_stream_new) StreamNew;
  decltype(&pa_stream_unref) StreamUnref;
  decltype(&pa_stream_connect_playback) StreamConnectPlayback;
  decltype(&pa_stream_disconnect) StreamDisconnect;
  decltype(&pa_stream_get_state) StreamGetState;
  decltype(&pa_stream_set_state_callback) StreamSetStateCallback;
  decltype(&pa_stream_set_write_callback) StreamSetWriteCallback;
  decltype(&pa_stream_set_underflow_callback) StreamSetUnderflowCallback;
  decltype(&pa_stream_begin_write) StreamBeginWrite;
  decltype(&pa_stream_write) StreamWrite;
  decltype(&pa_stream_cork) StreamCork;
  decltype(&pa_stream_update_timing_info) StreamUpdateTimingInfo;
  decltype(&pa_stream_get_timing_info) StreamGetTimingInfo;
  decltype(&pa_stream_get_buffer_attr) StreamGetBufferAttr;
  decltype(&pa_strerror) Strerror;
  decltype(&pa_rtclock_now) RtclockNow;
};

// A hold on the library: the first loads it, and when every hold is
// released it is unloaded. nullptr, the reason in *why, when it cannot be
// loaded; that is no hold. Any thread; a hold must be released only once
// nothing made with the library (main loop, context, stream) is left.
const PulseLibrary* AcquirePulse(std::string* why);
void ReleasePulse();

}  // namespace pendlo::sound::output::pulse
