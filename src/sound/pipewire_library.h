// libpipewire-0.3, loaded when the first PipeWire output opens, so that a
// machine without PipeWire still starts the program (it then plays through
// PulseAudio or SDL2).
#pragma once

#include <pipewire/pipewire.h>

#include <string>

namespace pendlo {

struct PipeWireLibrary {
  decltype(&pw_init) Init;
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
// any thread) and kept; nullptr when it cannot be loaded, the reason then in
// *why.
const PipeWireLibrary* LoadPipeWire(std::string* why);

// Connects `stream` to whatever the session manager links it to, as 32-bit
// float at `rate`: mono, or front left and right for 2 channels; its process
// callback on the real-time data thread. False when it cannot connect.
bool ConnectFloatStream(const PipeWireLibrary& pw, pw_stream* stream, pw_direction direction,
                        int rate, int channels);

}  // namespace pendlo
