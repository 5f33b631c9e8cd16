#include "support/pulse_client.h"

#include <pulse/pulseaudio.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

namespace pendlo::testing {
namespace {

// The client's state, touched with the loop locked: the loop's thread runs
// the callbacks, which note what came and wake the waiting thread.
struct Session {
  pa_threaded_mainloop* loop = pa_threaded_mainloop_new();
  pa_context* context = nullptr;
  std::vector<int> pidfds;
  bool over = false;    // a daemon ended, or the time ran out
  bool changed = true;  // the server announced a change since the last look
  int pending = 0;      // requests not yet answered
  bool found = false;   // what was asked for is there
  std::string defaultSink;

  static Session& Of(void* self) { return *static_cast<Session*>(self); }
  static void Wake(void* self) { pa_threaded_mainloop_signal(Of(self).loop, 0); }
  static void Answered(void* self) {
    --Of(self).pending;
    Wake(self);
  }
  static void OnOver(void* self) {
    Of(self).over = true;
    Wake(self);
  }

  Session(const std::vector<pid_t>& daemons, SteadyTime until) {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
    context = pa_context_new(api, "pendlo-test");
    pa_context_set_state_callback(
        context, [](pa_context*, void* self) { Wake(self); }, this);
    pa_context_set_subscribe_callback(
        context,
        [](pa_context*, pa_subscription_event_type_t, uint32_t, void* self) {
          Of(self).changed = true;
          Wake(self);
        },
        this);
    // A daemon's end makes its pidfd readable.
    for (pid_t pid : daemons) {
      pidfds.push_back(OpenPidFd(pid));
      over |= pidfds.back() < 0;
      if (pidfds.back() < 0) continue;
      api->io_new(
          api, pidfds.back(), PA_IO_EVENT_INPUT,
          [](pa_mainloop_api* a, pa_io_event* e, int, pa_io_event_flags_t, void* self) {
            a->io_enable(e, PA_IO_EVENT_NULL);
            OnOver(self);
          },
          this);
    }
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        until - std::chrono::steady_clock::now());
    pa_context_rttime_new(
        context, pa_rtclock_now() + std::max<pa_usec_t>(left.count(), 0),
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* self) { OnOver(self); }, this);
    pa_threaded_mainloop_start(loop);
    pa_threaded_mainloop_lock(loop);
  }
  ~Session() {
    pa_context_disconnect(context);
    pa_context_unref(context);
    pa_threaded_mainloop_unlock(loop);
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
    for (int fd : pidfds) {
      if (fd >= 0) ::close(fd);
    }
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Waits until `done` holds; false once the server or a daemon has gone,
  // or the time ran out.
  bool Await(const std::function<bool()>& done) {
    for (;;) {
      if (done()) return true;
      if (over || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) return false;
      pa_threaded_mainloop_wait(loop);
    }
  }

  void Track(pa_operation* op) {
    if (op == nullptr) return;
    ++pending;
    pa_operation_unref(op);
  }

  bool Connect(const std::string& server) {
    return pa_context_connect(context, server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
           Await([&] { return pa_context_get_state(context) == PA_CONTEXT_READY; });
  }

  // Asks for the monitor and the default sink: now, and again after every
  // change the server announces.
  void Ask(const std::string& monitor) {
    changed = false;
    found = false;
    Track(pa_context_get_source_info_by_name(
        context, monitor.c_str(),
        [](pa_context*, const pa_source_info* info, int last, void* self) {
          if (info != nullptr) Of(self).found = true;
          if (last != 0) Answered(self);
        },
        this));
    Track(pa_context_get_server_info(
        context,
        [](pa_context*, const pa_server_info* info, void* self) {
          Of(self).defaultSink =
              info != nullptr && info->default_sink_name != nullptr ? info->default_sink_name : "";
          Answered(self);
        },
        this));
  }
};

}  // namespace

SinkWait AwaitDefaultSink(const std::string& server, const std::string& sink,
                          const std::string& monitor, const std::vector<pid_t>& daemons,
                          SteadyTime until) {
  Session s(daemons, until);
  if (!s.Connect(server)) return SinkWait::kNoAnswer;
  s.Track(pa_context_subscribe(
      s.context,
      static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SOURCE |
                                          PA_SUBSCRIPTION_MASK_SERVER),
      [](pa_context*, int, void* self) { Session::Answered(self); }, &s));
  bool fresh = false;  // answers in that were not looked at yet
  const bool ready = s.Await([&] {
    if (s.pending > 0) return false;
    if (fresh) {
      fresh = false;
      if (s.found && s.defaultSink == sink) return true;
      // The change this makes is announced, and asked about then.
      if (s.found) {
        s.Track(pa_context_set_default_sink(
            s.context, sink.c_str(), [](pa_context*, int, void* self) { Session::Answered(self); },
            &s));
      }
    } else if (s.changed) {
      fresh = true;
      s.Ask(monitor);
    }
    return false;
  });
  return ready ? SinkWait::kReady : s.found ? SinkWait::kNotDefault : SinkWait::kNoMonitor;
}

bool AwaitPlayback(const std::string& server, const std::vector<pid_t>& daemons, SteadyTime until) {
  Session s(daemons, until);
  if (!s.Connect(server)) return false;
  s.Track(pa_context_subscribe(
      s.context, PA_SUBSCRIPTION_MASK_SINK_INPUT,
      [](pa_context*, int, void* self) { Session::Answered(self); }, &s));
  // The streams are asked for now, and again after every change.
  return s.Await([&] {
    if (s.pending > 0 || s.found || !s.changed) return s.pending == 0 && s.found;
    s.changed = false;
    s.Track(pa_context_get_sink_input_info_list(
        s.context,
        [](pa_context*, const pa_sink_input_info* info, int last, void* self) {
          if (info != nullptr) Session::Of(self).found = true;
          if (last != 0) Session::Answered(self);
        },
        &s));
    return false;
  });
}

}  // namespace pendlo::testing
