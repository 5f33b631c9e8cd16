// libpulse, loaded when a PulseAudio output opens rather than linked: a
// program playing through PipeWire's own protocol or SDL2 then never maps
// it (nor the codec libraries it pulls in), and a server that refuses the
// output lets it go again.
#pragma once

#include <pulse/pulseaudio.h>

#include <string>

#include "sound/output/shared_library.h"

namespace pendlo::sound::output::pulse {

// clang-format off
// The functions of libpulse the outputs call, as X(Member, symbol).
#define PENDLO_PULSE_FUNCTIONS(X)                                 \
  X(ThreadedMainloopNew, pa_threaded_mainloop_new)                \
  X(ThreadedMainloopFree, pa_threaded_mainloop_free)              \
  X(ThreadedMainloopStart, pa_threaded_mainloop_start)            \
  X(ThreadedMainloopStop, pa_threaded_mainloop_stop)              \
  X(ThreadedMainloopLock, pa_threaded_mainloop_lock)              \
  X(ThreadedMainloopUnlock, pa_threaded_mainloop_unlock)          \
  X(ThreadedMainloopWait, pa_threaded_mainloop_wait)              \
  X(ThreadedMainloopSignal, pa_threaded_mainloop_signal)          \
  X(ThreadedMainloopGetApi, pa_threaded_mainloop_get_api)         \
  X(ProplistNew, pa_proplist_new)                                 \
  X(ProplistFree, pa_proplist_free)                               \
  X(ProplistSets, pa_proplist_sets)                               \
  X(ContextNewWithProplist, pa_context_new_with_proplist)         \
  X(ContextUnref, pa_context_unref)                               \
  X(ContextConnect, pa_context_connect)                           \
  X(ContextDisconnect, pa_context_disconnect)                     \
  X(ContextSetStateCallback, pa_context_set_state_callback)       \
  X(ContextGetState, pa_context_get_state)                        \
  X(ContextErrno, pa_context_errno)                               \
  X(ContextRttimeNew, pa_context_rttime_new)                      \
  X(ContextRttimeRestart, pa_context_rttime_restart)              \
  X(ContextGetServerInfo, pa_context_get_server_info)             \
  X(ContextGetSinkInfoByName, pa_context_get_sink_info_by_name)   \
  X(OperationGetState, pa_operation_get_state)                    \
  X(OperationCancel, pa_operation_cancel)                         \
  X(OperationUnref, pa_operation_unref)                           \
  X(StreamNew, pa_stream_new)                                     \
  X(StreamUnref, pa_stream_unref)                                 \
  X(StreamConnectPlayback, pa_stream_connect_playback)            \
  X(StreamDisconnect, pa_stream_disconnect)                       \
  X(StreamGetState, pa_stream_get_state)                          \
  X(StreamSetStateCallback, pa_stream_set_state_callback)         \
  X(StreamSetWriteCallback, pa_stream_set_write_callback)         \
  X(StreamSetUnderflowCallback, pa_stream_set_underflow_callback) \
  X(StreamWrite, pa_stream_write)                                 \
  X(StreamCork, pa_stream_cork)                                   \
  X(StreamUpdateTimingInfo, pa_stream_update_timing_info)         \
  X(StreamGetTimingInfo, pa_stream_get_timing_info)               \
  X(StreamGetBufferAttr, pa_stream_get_buffer_attr)               \
  X(Strerror, pa_strerror)                                        \
  X(RtclockNow, pa_rtclock_now)
// clang-format on

// The loaded functions of libpulse, a member for each entry of PENDLO_PULSE_FUNCTIONS.
struct PulseLibrary {
  PENDLO_PULSE_FUNCTIONS(PENDLO_LIBRARY_MEMBER)
};

// A hold on the library: the first loads it, and when every hold is
// released it is unloaded. nullptr, the reason in *why, when it cannot be
// loaded; that is no hold. Any thread; a hold must be released only once
// nothing made with the library (main loop, context, stream) is left.
const PulseLibrary* AcquirePulse(std::string* why);
void ReleasePulse();

}  // namespace pendlo::sound::output::pulse
