#include "support/pulse_client.h"

#include <pulse/pulseaudio.h>
#include <unistd.h>

#include <functional>

namespace pendlo::testing {

// Everything here runs with the loop locked: the loop's thread calls the
// callbacks, which note what came and wake the waiting thread.
struct PulseClient::Session {
  pa_threaded_mainloop* loop = pa_threaded_mainloop_new();
  pa_context* context = nullptr;
  std::vector<int> pidfds;
  bool over = false;       // a daemon ended, or the time ran out
  bool changed = true;     // the server announced a change since the last request
  int pending = 0;         // requests not yet answered
  bool succeeded = false;  // the answer to the last request that can fail
  bool found = false;      // the source asked for is there
  std::string defaultSink;

  static Session& Of(void* self) { return *static_cast<Session*>(self); }
  static void Wake(void* self) { pa_threaded_mainloop_signal(Of(self).loop, 0); }
  static void Answered(void* self) {
    --Of(self).pending;
    Wake(self);
  }
  static void OnSuccess(pa_context*, int success, void* self) {
    Of(self).succeeded = success != 0;
    Answered(self);
  }
  static void OnOver(void* self) {
    Of(self).over = true;
    Wake(self);
  }

  // Notes the end of a daemon (its pidfd becomes readable) and the time
  // running out.
  void WatchFor(const std::vector<pid_t>& daemons, SteadyTime until) {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
    for (pid_t pid : daemons) {
      pidfds.push_back(OpenPidFd(pid));
      over |= pidfds.back() < 0;
      if (pidfds.back() < 0) continue;
      api->io_new(
          api, pidfds.back(), PA_IO_EVENT_INPUT,
          [](pa_mainloop_api*, pa_io_event* e, int, pa_io_event_flags_t, void* self) {
            pa_threaded_mainloop_get_api(Of(self).loop)->io_enable(e, PA_IO_EVENT_NULL);
            OnOver(self);
          },
          this);
    }
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        until - std::chrono::steady_clock::now());
    pa_context_rttime_new(
        context, pa_rtclock_now() + std::max<pa_usec_t>(left.count(), 0),
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* self) { OnOver(self); }, this);
  }

  // Waits until `done` holds; false once the server or a daemon has gone,
  // or the time ran out.
  bool Await(const std::function<bool()>& done) {
    for (;;) {
      if (done()) return true;
      if (over || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) return false;
      pa_threaded_mainloop_wait(loop);
    }
  }

  // Asks with `ask` (which counts the requests it makes pending) now and
  // after every change the server announces, until `answered`, looking at
  // each complete answer once, holds.
  bool AskUntil(const std::function<void()>& ask, const std::function<bool()>& answered) {
    bool fresh = false;
    bool holds = false;
    changed = true;
    Await([&] {
      if (pending > 0) return false;
      if (fresh) {
        fresh = false;
        holds = answered();
        return holds;
      }
      if (changed) {
        changed = false;
        fresh = true;
        ask();
      }
      return false;
    });
    return holds;
  }

  void Track(pa_operation* op) {
    if (op == nullptr) return;
    ++pending;
    pa_operation_unref(op);
  }
};

PulseClient::PulseClient(const std::vector<pid_t>& daemons, SteadyTime until)
    : session_(std::make_unique<Session>()) {
  Session& s = *session_;
  s.context = pa_context_new(pa_threaded_mainloop_get_api(s.loop), "pendlo-test");
  pa_context_set_state_callback(
      s.context, [](pa_context*, void* self) { Session::Wake(self); }, &s);
  pa_context_set_subscribe_callback(
      s.context,
      [](pa_context*, pa_subscription_event_type_t, uint32_t, void* self) {
        Session::Of(self).changed = true;
        Session::Wake(self);
      },
      &s);
  s.WatchFor(daemons, until);
  pa_threaded_mainloop_start(s.loop);
  pa_threaded_mainloop_lock(s.loop);
}

PulseClient::~PulseClient() {
  Session& s = *session_;
  pa_context_disconnect(s.context);
  pa_context_unref(s.context);
  pa_threaded_mainloop_unlock(s.loop);
  pa_threaded_mainloop_stop(s.loop);
  pa_threaded_mainloop_free(s.loop);
  for (int fd : s.pidfds) {
    if (fd >= 0) ::close(fd);
  }
}

bool PulseClient::Connect(const std::string& server) {
  Session& s = *session_;
  if (pa_context_connect(s.context, server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    return false;
  }
  const bool ready = s.Await([&] { return pa_context_get_state(s.context) == PA_CONTEXT_READY; });
  if (ready) {
    s.Track(pa_context_subscribe(s.context,
                                 static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SOURCE |
                                                                     PA_SUBSCRIPTION_MASK_SERVER),
                                 &Session::OnSuccess, &s));
  }
  return ready && s.Await([&] { return s.pending == 0; }) && s.succeeded;
}

bool PulseClient::LoadModule(const std::string& module, const std::string& args) {
  Session& s = *session_;
  s.succeeded = false;
  s.Track(pa_context_load_module(
      s.context, module.c_str(), args.c_str(),
      [](pa_context*, uint32_t index, void* self) {
        Session::Of(self).succeeded = index != PA_INVALID_INDEX;
        Session::Answered(self);
      },
      &s));
  return s.Await([&] { return s.pending == 0; }) && s.succeeded;
}

bool PulseClient::AwaitSource(const std::string& source) {
  Session& s = *session_;
  const auto ask = [&] {
    s.found = false;
    s.Track(pa_context_get_source_info_by_name(
        s.context, source.c_str(),
        [](pa_context*, const pa_source_info* info, int last, void* self) {
          if (info != nullptr) Session::Of(self).found = true;
          if (last != 0) Session::Answered(self);
        },
        &s));
  };
  return s.AskUntil(ask, [&] { return s.found; });
}

bool PulseClient::AwaitDefaultSink(const std::string& sink) {
  Session& s = *session_;
  const auto ask = [&] {
    s.Track(pa_context_get_server_info(
        s.context,
        [](pa_context*, const pa_server_info* info, void* self) {
          Session::Of(self).defaultSink =
              info != nullptr && info->default_sink_name != nullptr ? info->default_sink_name : "";
          Session::Answered(self);
        },
        &s));
  };
  return s.AskUntil(ask, [&] {
    if (s.defaultSink == sink) return true;
    // The change this makes is announced, and asked about then.
    s.Track(pa_context_set_default_sink(s.context, sink.c_str(), &Session::OnSuccess, &s));
    return false;
  });
}

}  // namespace pendlo::testing
