// libpipewire-0.3, loaded when a PipeWire output opens, so that a machine
// without PipeWire still starts the program (it then plays through
// PulseAudio or SDL2), and unloaded when the output closes or is refused, so
// that a program playing through another output does not keep it mapped.
#pragma once

#include <pipewire/impl-module.h>
#include <pipewire/pipewire.h>

#include <string>

#include "sound/output/shared_library.h"

namespace pendlo::sound::output::pipewire {

// clang-format off
// The functions of libpipewire the outputs and tests call, as X(Member, symbol).
#define PENDLO_PIPEWIRE_FUNCTIONS(X)                         \
  X(Init, pw_init)                                           \
  X(Deinit, pw_deinit)                                       \
  X(ThreadLoopNew, pw_thread_loop_new)                       \
  X(ThreadLoopDestroy, pw_thread_loop_destroy)               \
  X(ThreadLoopStart, pw_thread_loop_start)                   \
  X(ThreadLoopStop, pw_thread_loop_stop)                     \
  X(ThreadLoopLock, pw_thread_loop_lock)                     \
  X(ThreadLoopUnlock, pw_thread_loop_unlock)                 \
  X(ThreadLoopGetLoop, pw_thread_loop_get_loop)              \
  X(ThreadLoopSignal, pw_thread_loop_signal)                 \
  X(ThreadLoopGetTime, pw_thread_loop_get_time)              \
  X(ThreadLoopTimedWaitFull, pw_thread_loop_timed_wait_full) \
  X(ContextNew, pw_context_new)                              \
  X(ContextDestroy, pw_context_destroy)                      \
  X(ContextAddSpaLib, pw_context_add_spa_lib)                \
  X(ContextLoadModule, pw_context_load_module)               \
  X(ContextConnect, pw_context_connect)                      \
  X(CoreDisconnect, pw_core_disconnect)                      \
  X(PropertiesNew, pw_properties_new)                        \
  X(StreamNew, pw_stream_new)                                \
  X(StreamDestroy, pw_stream_destroy)                        \
  X(StreamAddListener, pw_stream_add_listener)               \
  X(StreamConnect, pw_stream_connect)                        \
  X(StreamGetState, pw_stream_get_state)                     \
  X(StreamDequeueBuffer, pw_stream_dequeue_buffer)           \
  X(StreamQueueBuffer, pw_stream_queue_buffer)               \
  X(StreamGetTimeN, pw_stream_get_time_n)                    \
  X(StreamSetActive, pw_stream_set_active)
// clang-format on

// The loaded functions of libpipewire, a member for each entry of PENDLO_PIPEWIRE_FUNCTIONS.
struct PipeWireLibrary {
  PENDLO_PIPEWIRE_FUNCTIONS(PENDLO_LIBRARY_MEMBER)
};

// The library's functions, loaded and initialised on the first call (from
// any thread) and kept for the rest of the process; nullptr when it cannot be
// loaded, the reason then in *why.
const PipeWireLibrary* LoadPipeWire(std::string* why);

// A hold on the library: the first loads and initialises it, and when every
// hold is released (and LoadPipeWire was never called) it is deinitialised
// and unloaded. nullptr, the reason in *why, when it cannot be loaded; that
// is no hold. Any thread; a hold must be released only once nothing made
// with the library (loop, context, stream) is left.
const PipeWireLibrary* AcquirePipeWire(std::string* why);
void ReleasePipeWire();

// False when no PipeWire daemon can answer because no socket of one is
// where a client looks ($PIPEWIRE_RUNTIME_DIR, $XDG_RUNTIME_DIR or
// $USERPROFILE, then "pipewire-0"), so the library need not be loaded to
// find out; true otherwise, also whenever $PIPEWIRE_REMOTE names another.
bool PipeWireSocketPresent();

// A context on `loop` for playback streams: no configuration file is read
// (unless $PIPEWIRE_CONFIG_NAME names one) and only what a stream needs is
// loaded: the native protocol, the client node a stream is exported as and
// the adapter that converts its format, where the default client
// configuration also loads the metadata, session-manager and client-device
// modules and the D-Bus support plugin. Where that cannot be made (a
// library without the "null" configuration), the default client context;
// nullptr when neither can.
pw_context* NewPlaybackContext(const PipeWireLibrary& pw, pw_loop* loop);

// Connects `stream` to whatever the session manager links it to, as 32-bit
// float at `rate`: mono, or front left and right for 2 channels; its process
// callback on the real-time data thread. False when it cannot connect.
bool ConnectFloatStream(const PipeWireLibrary& pw, pw_stream* stream, pw_direction direction,
                        int rate, int channels);

}  // namespace pendlo::sound::output::pipewire
