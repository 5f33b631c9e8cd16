#include "support/sound_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "sound/clock/audio_clock.h"
#include "support/files.h"
#include "support/graph_recorder.h"

extern char** environ;

namespace pendlo::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kUnset = "\1";
constexpr auto kStartTimeout = std::chrono::seconds(20);

std::vector<std::string> Environment(
    const std::vector<std::pair<std::string, std::string>>& overrides) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const auto& [name, value] : overrides) replaced |= entry.rfind(name + "=", 0) == 0;
    if (!replaced) env.push_back(entry);
  }
  for (const auto& [name, value] : overrides) env.push_back(name + "=" + value);
  return env;
}

// Starts `args` with the given environment, standard input from /dev/null,
// standard output (and, with `withErrors`, standard error) into `out` when
// it is not empty. The child joins process group `group` (0: leads a new
// one) and is killed when the thread that started it ends, so a test that
// crashes leaves no daemon behind. The child's pid, or -1.
pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
            const std::string& out = {}, bool withErrors = false, pid_t group = 0) {
  std::vector<char*> argv, envp;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here: the parent has other threads.
    ::setpgid(0, group);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    const int in = ::open("/dev/null", O_RDONLY);
    if (in >= 0) ::dup2(in, 0);
    if (!out.empty()) {
      const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      if (fd >= 0) {
        ::dup2(fd, 1);
        if (withErrors) ::dup2(fd, 2);
      }
    }
    // The test's own sockets (a player's stream to an older server) stay
    // with the test.
    ::close_range(3, ~0U, 0);
    ::execvpe(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  if (pid > 0) ::setpgid(pid, group);  // either side may win the race
  return pid;
}

// True while `pid` (a child of ours) has not ended; does not reap it.
bool Alive(pid_t pid) {
  siginfo_t info{};
  return pid > 0 &&
         ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == 0;
}

// Signals `pids` (the group led by pids[0] when `group`) and reaps them;
// SIGKILL for what has not ended after `grace`.
void End(const std::vector<pid_t>& pids, int signal, std::chrono::milliseconds grace, bool group) {
  if (pids.empty()) return;
  for (pid_t pid : pids) ::kill(pid, signal);
  if (group) ::kill(-pids[0], signal);
  const auto until = Clock::now() + grace;
  std::vector<pid_t> left = pids;
  while (!left.empty() && Clock::now() < until) {
    std::erase_if(left, [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) == pid; });
    if (!left.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  for (pid_t pid : left) ::kill(pid, SIGKILL);
  if (group) ::kill(-pids[0], SIGKILL);
  for (pid_t pid : left) ::waitpid(pid, nullptr, 0);
}

// Polls `ready` every 20 ms until it holds, `dead` holds, or `until`.
template <class Ready, class Dead>
bool Await(Ready ready, Dead dead, Clock::time_point until) {
  for (;;) {
    if (ready()) return true;
    if (dead() || Clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// WirePlumber of the private session leaves real devices alone: no sound
// card, camera or Bluetooth headset of the machine joins the test's graph.
constexpr const char* kNoDevicesMain =
    "alsa_monitor.enabled = false\n"
    "v4l2_monitor.enabled = false\n"
    "libcamera_monitor.enabled = false\n";
constexpr const char* kNoDevicesBluetooth = "bluez_monitor.enabled = false\n";

}  // namespace

const std::vector<std::string>& SoundServer::Names() {
  static const std::vector<std::string> names = {"pulse", "pipewire"};
  return names;
}

SoundServer::SoundServer(std::string name, int rate) : name_(std::move(name)), rate_(rate) {
  std::string tmpl = (fs::temp_directory_path() / ("pendlo-" + name_ + "-XXXXXX")).string();
  if (::mkdtemp(tmpl.data())) dir_ = tmpl;
  if (dir_.empty()) return;
  for (const char* sub : {"/runtime", "/home", "/config/wireplumber/main.lua.d",
                          "/config/wireplumber/bluetooth.lua.d", "/state"})
    fs::create_directories(dir_ + sub);
  fs::permissions(dir_ + "/runtime", fs::perms::owner_all);
  std::ofstream(dir_ + "/config/wireplumber/main.lua.d/60-pendlo-no-devices.lua") << kNoDevicesMain;
  std::ofstream(dir_ + "/config/wireplumber/bluetooth.lua.d/60-pendlo-no-devices.lua")
      << kNoDevicesBluetooth;
}

SoundServer::~SoundServer() {
  Stop();
  for (const auto& [name, value] : savedEnv_) {
    if (value == kUnset) {
      ::unsetenv(name.c_str());
    } else {
      ::setenv(name.c_str(), value.c_str(), 1);
    }
  }
  // PENDLO_KEEP_SERVER_DIR=1 keeps the daemons' logs (with PIPEWIRE_DEBUG
  // set, the server's own account of the stream) for a look afterwards.
  const char* keep = std::getenv("PENDLO_KEEP_SERVER_DIR");
  if (keep && std::string(keep) == "1") {
    std::fprintf(stderr, "sound server files kept in %s\n", dir_.c_str());
    return;
  }
  std::error_code ec;
  if (!dir_.empty()) fs::remove_all(dir_, ec);
}

std::string SoundServer::ServerString() const {
  return name_ == "pipewire" ? "unix:" + dir_ + "/runtime/pulse/native"
                             : "unix:" + dir_ + "/runtime/native";
}

std::string SoundServer::Pactl(const std::string& args) const {
  const std::string command = "pactl --server=" + ServerString() + " " + args + " 2>/dev/null";
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

bool SoundServer::Running() const {
  return !pids_.empty() && std::all_of(pids_.begin(), pids_.end(), Alive);
}

std::string SoundServer::Logs() const {
  std::string logs;
  for (const char* name : {"/server.log", "/bus.log"}) {
    const std::string text = ReadFile(dir_ + name, "");
    if (!text.empty()) logs += "\n--- " + std::string(name + 1) + " ---\n" + text;
  }
  return logs;
}

bool SoundServer::Start(std::string* error) {
  std::string why;
  if (dir_.empty()) {
    why = "no temporary directory";
  } else if (!pids_.empty()) {
    return true;
  } else if (std::find(Names().begin(), Names().end(), name_) == Names().end()) {
    why = "no sound server called '" + name_ + "'";
  } else if (SpawnDaemons(why) && AwaitSink(why)) {
    if (savedEnv_.empty()) {
      for (const char* name : {"PULSE_SERVER", "PIPEWIRE_RUNTIME_DIR", "SDL_AUDIODRIVER"}) {
        const char* old = std::getenv(name);
        savedEnv_.emplace_back(name, old ? old : kUnset);
      }
    }
    ::setenv("PULSE_SERVER", ServerString().c_str(), 1);
    // A PipeWire client finds this session's daemon there; with a PulseAudio
    // server none answers there, and no PipeWire of the desktop is reached.
    ::setenv("PIPEWIRE_RUNTIME_DIR", (dir_ + "/runtime").c_str(), 1);
    ::setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    return true;
  }
  if (error) *error = why + Logs();
  Stop();
  return false;
}

bool SoundServer::SpawnDaemons(std::string& why) {
  const std::string runtime = dir_ + "/runtime";
  const std::string log = dir_ + "/server.log";
  // Its own runtime, home, config and state directories: nothing of a
  // desktop session is touched, and root is allowed (a per-user server).
  std::vector<std::pair<std::string, std::string>> env = {{"XDG_RUNTIME_DIR", runtime},
                                                          {"PIPEWIRE_RUNTIME_DIR", runtime},
                                                          {"HOME", dir_ + "/home"},
                                                          {"XDG_CONFIG_HOME", dir_ + "/config"},
                                                          {"XDG_STATE_HOME", dir_ + "/state"},
                                                          {"PULSE_SERVER", ""}};
  const auto start = [&](const std::vector<std::string>& args, const std::string& out) {
    const pid_t pid = Spawn(args, Environment(env), out, true, pids_.empty() ? 0 : pids_[0]);
    if (pid <= 0) {
      why = "cannot start " + args[0] + " (is it installed?)";
      return false;
    }
    pids_.push_back(pid);
    return true;
  };
  const auto until = Clock::now() + kStartTimeout;
  const auto died = [&] { return !Running(); };

  if (name_ == "pulse") {
    fs::remove(runtime + "/native");
    // PENDLO_PULSE_LOG=FILE keeps the daemon's debug log there (it names
    // every rewind), for benchmarks.
    const char* debugLog = std::getenv("PENDLO_PULSE_LOG");
    return start(
        {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
         "--system=false", "--use-pid-file=false", "--no-cpu-limit=true",
         debugLog ? "--log-level=debug" : "--log-level=notice",
         "--log-target=file:" + (debugLog ? std::string(debugLog) : log),
         "--load=module-native-protocol-unix auth-anonymous=1 socket=" + runtime + "/native",
         "--load=module-null-sink sink_name=" + std::string(kSink) +
             " rate=" + std::to_string(rate_) + " sink_properties=device.description=Pendlo"},
        {});
  }

  // PipeWire: the bus first (WirePlumber and the daemons' real-time requests
  // use it), then the graph, then its session manager and pulse server.
  const std::string bus = runtime + "/bus";
  fs::remove(bus);
  if (!start({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=" + bus},
             dir_ + "/bus.log")) {
    return false;
  }
  if (!Await([&] { return fs::exists(bus); }, died, until)) {
    why = "the session bus did not start";
    return false;
  }
  env.emplace_back("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + bus);
  if (!start({"pipewire"}, log)) return false;
  if (!Await([&] { return fs::exists(runtime + "/pipewire-0"); }, died, until)) {
    why = "pipewire did not start";
    return false;
  }
  return start({"wireplumber"}, log) && start({"pipewire-pulse"}, log);
}

// Waits until the server answers with the null sink as its default sink.
// PulseAudio loads the sink itself; on PipeWire it is loaded here, and the
// session manager applies the default a moment later.
bool SoundServer::AwaitSink(std::string& why) {
  const auto until = Clock::now() + kStartTimeout;
  const auto died = [&] { return !Running(); };
  const std::string sink = kSink;
  if (!Await([&] { return Pactl("info").find("Server Name:") != std::string::npos; }, died,
             until)) {
    why = name_ + " did not answer";
    return false;
  }
  if (name_ == "pipewire") {
    Pactl("load-module module-null-sink sink_name=" + sink + " rate=" + std::to_string(rate_) +
          " channels=2 sink_properties=device.description=Pendlo");
  }
  if (!Await([&] { return Pactl("list short sources").find(Monitor()) != std::string::npos; }, died,
             until)) {
    why = "no null sink " + sink + " with its monitor";
    return false;
  }
  auto asked = Clock::time_point{};
  if (!Await(
          [&] {
            if (Pactl("info").find("Default Sink: " + sink + "\n") != std::string::npos) {
              return true;
            }
            if (Clock::now() - asked > std::chrono::milliseconds(500)) {
              Pactl("set-default-sink " + sink);
              asked = Clock::now();
            }
            return false;
          },
          died, until)) {
    why = sink + " never became the default sink";
    return false;
  }
  return true;
}

void SoundServer::Stop() {
  End(pids_, SIGTERM, std::chrono::milliseconds(2000), true);
  pids_.clear();
}

bool WaitUntilStreaming(sound::clock::AudioClock& clock, std::chrono::milliseconds settle,
                        std::chrono::milliseconds timeout) {
  const auto until = Clock::now() + timeout;
  auto steadySince = Clock::now();
  std::uint64_t anchors = clock.Anchors();
  while (Clock::now() < until) {
    const auto now = Clock::now();
    // Callbacks must be coming: the rendered part of the stream keeps ahead
    // of the clock (a single early callback is not yet a running stream).
    const bool flowing = clock.Streaming() && clock.RenderedUpTo() > clock.now() - 30000;
    if (!flowing || clock.Anchors() != anchors) {
      anchors = clock.Anchors();
      steadySince = now;
    } else if (now - steadySince >= settle) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

MonitorRecorder::MonitorRecorder(const SoundServer& server, int seconds) : server_(server) {
  if (server.Name() == "pipewire") {
    graph_ = std::make_unique<GraphRecorder>(SoundServer::kSink, server.Rate(), seconds);
  }
  static int count = 0;
  file_ = server.Dir() + "/monitor-" + std::to_string(++count) + ".raw";
}

MonitorRecorder::~MonitorRecorder() {
  Stop();
}

bool MonitorRecorder::Start(std::string* error) {
  if (graph_) return graph_->Start(error);
  fs::remove(file_);
  pid_ = Spawn({"parec", "--server=" + server_.ServerString(), "--device=" + server_.Monitor(),
                "--format=float32le", "--rate=" + std::to_string(server_.Rate()), "--channels=2",
                "--raw", "--latency-msec=100"},
               Environment({}), file_);
  if (pid_ <= 0) {
    if (error) *error = "cannot start parec (is pulseaudio-utils installed?)";
    return false;
  }
  // Recording has begun once samples arrive (a suspended sink first wakes);
  // then anything played from now on is on the recording.
  const auto until = Clock::now() + std::chrono::seconds(10);
  const auto recorded = [&] {
    std::error_code ec;
    const auto size = fs::file_size(file_, ec);
    return !ec && size > 0;
  };
  if (!Await(
          recorded, [&] { return !Alive(pid_); }, until)) {
    const bool exited = !Alive(pid_);
    Stop();
    if (error) *error = exited ? "parec exited at once" : "parec recorded nothing for 10 s";
    return false;
  }
  return true;
}

std::vector<float> MonitorRecorder::Stop() {
  if (graph_) {
    std::vector<float> samples = graph_->Stop();
    if (graph_->Gaps() > 0) std::fprintf(stderr, "recorder: %d cycles missed\n", graph_->Gaps());
    return samples;
  }
  if (pid_ <= 0) return {};
  End({pid_}, SIGINT, std::chrono::milliseconds(2000), false);
  pid_ = -1;
  const std::string bytes = ReadFile(file_, "");
  std::vector<float> stereo(bytes.size() / sizeof(float) / 2 * 2);
  std::memcpy(stereo.data(), bytes.data(), stereo.size() * sizeof(float));
  std::vector<float> samples(stereo.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i)
    samples[i] = 0.5F * (stereo[2 * i] + stereo[2 * i + 1]);
  std::filesystem::remove(file_);
  return samples;
}

}  // namespace pendlo::testing
