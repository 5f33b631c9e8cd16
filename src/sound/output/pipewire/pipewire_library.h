// libpipewire-0.3, loaded when a PipeWire output opens, so that a machine
// without PipeWire still starts the program (it then plays through
// PulseAudio or SDL2), and unloaded when the output closes or is refused, so
// that a program playing through another output does not keep it mapped.
#pragma once

#include <pipewire/impl-module.h>
#include <pipewire/pipewire.h>

#include <string>

namespace pendlo::sound::output::pipewire {

struct PipeWireLibrary {
  decltype(&pw_init) Init;
  decltype(&pw_deinit) Deinit;
  decltype(&pw_thread_loop_new) ThreadLoopNew;
  decltype(&pw_thread_loop_destroy) ThreadLoopDestroy;
  decltype(&pw_thread_loop_start) ThreadLoopStart;
  decltype(&pw_thread_loop_stop) ThreadLoopStop;
  decltype(&pw_thread_loop_lock) ThreadLoopLock;
  decltype(&pw_thread_loop_unlock) ThreadLoopUnlock;
  decltype(&pw_thread_loop_get_loop) ThreadLoopGetLoop;
  decltype(&pw_thread_loop_signal) ThreadLoopSignal;
  decltype(&pw_thread_loop_get_time) ThreadLoopGetTime;
  decltype(&pw_thread_loop_timed_wait_full) ThreadLoopTimedWaitFull;
  decltype(&pw_context_new) ContextNew;
  decltype(&pw_context_destroy) ContextDestroy;
  decltype(&pw_context_add_spa_lib) ContextAddSpaLib;
  decltype(&pw_context_load_module) ContextLoadModule;
  decltype(&pw_context_connect) ContextConnect;
  decltype(&pw_core_disconnect) CoreDisconnect;
  decltype(&pw_properties_new) PropertiesNew;
  decltype(&pw_stream_new) StreamNew;
  decltype(&pw_stream_destroy) StreamDestroy;
  decltype(&pw_stream_add_listener) StreamAddListener;
  decltype(&pw_stream_connect) StreamConnect;
  decltype(&pw_stream_get_state) StreamGetState;
  decltype(&pw_stream_dequeue_buffer) StreamDequeueBuffer;
  decltype(&pw_stream_queue_buffer) StreamQueueBuffer;
  decltype(&pw_stream_get_time_n) StreamGetTimeN;
  decltype(&pw_stream_set_active) StreamSetActive;
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
