#include "support/sound_server.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sound/clock/audio_clock.h"
#include "support/files.h"
#include "support/graph_recorder.h"
#include "support/processes.h"
#include "support/program.h"
#include "support/pulse_client.h"

namespace pendlo::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kUnset = "\1";
constexpr auto kStartTimeout = std::chrono::seconds(20);

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

bool SoundServer::AwaitPlayback(std::chrono::milliseconds limit) const {
  return testing::AwaitPlayback(ServerString(), pids_, Clock::now() + limit);
}

std::string SoundServer::Pactl(const std::string& args) const {
  return Shell("pactl --server=" + ServerString() + " " + args + " 2>/dev/null");
}

std::string SoundServer::SinkState() const {
  std::istringstream sinks(Pactl("list sinks short"));
  std::string index, name, driver, format, channels, rate, state;
  while (sinks >> index >> name >> driver >> format >> channels >> rate >> state) {
    if (name == kSink) return state;
  }
  return "";
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
  // Its own runtime, home, config and state directories: nothing of a
  // desktop session is touched, and root is allowed (a per-user server).
  const std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + runtime,
                                        "PIPEWIRE_RUNTIME_DIR=" + runtime,
                                        "HOME=" + dir_ + "/home",
                                        "XDG_CONFIG_HOME=" + dir_ + "/config",
                                        "XDG_STATE_HOME=" + dir_ + "/state",
                                        "PULSE_SERVER="};
  const bool started = name_ == "pulse" ? SpawnPulse(env, why) : SpawnPipeWire(env, why);
  if (!started && why.empty()) why = name_ + " did not answer";
  return started;
}

bool SoundServer::Launch(const std::vector<std::string>& args, const std::vector<std::string>& env,
                         const std::string& out, std::string& why) {
  const pid_t pid = Spawn(args, Environment(env), out, true, pids_.empty() ? 0 : pids_[0]);
  if (pid <= 0) {
    why = "cannot start " + args[0] + " (is it installed?)";
    return false;
  }
  pids_.push_back(pid);
  return true;
}

bool SoundServer::SpawnPulse(std::vector<std::string> env, std::string& why) {
  const std::string runtime = dir_ + "/runtime";
  fs::remove(runtime + "/native");
  // The daemon says READY=1 on $NOTIFY_SOCKET once it has started, its
  // socket listening and its sink loaded.
  const std::string notify = dir_ + "/notify";
  fs::remove(notify);
  const int told = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un at{};
  at.sun_family = AF_UNIX;
  notify.copy(at.sun_path, sizeof at.sun_path - 1);
  ::bind(told, reinterpret_cast<const sockaddr*>(&at), sizeof at);
  env.push_back("NOTIFY_SOCKET=" + notify);
  // PENDLO_PULSE_LOG=FILE keeps the daemon's debug log there (it names
  // every rewind), for benchmarks.
  const char* debugLog = std::getenv("PENDLO_PULSE_LOG");
  const bool ready =
      Launch({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
              "--system=false", "--use-pid-file=false", "--no-cpu-limit=true",
              debugLog ? "--log-level=debug" : "--log-level=notice",
              "--log-target=file:" + (debugLog ? std::string(debugLog) : dir_ + "/server.log"),
              "--load=module-native-protocol-unix auth-anonymous=1 socket=" + runtime + "/native",
              "--load=module-null-sink sink_name=" + std::string(kSink) +
                  " rate=" + std::to_string(rate_) + " sink_properties=device.description=Pendlo"},
             env, {}, why) &&
      AwaitReadable(told, pids_, Clock::now() + kStartTimeout);
  ::close(told);
  return ready;
}

// The bus first (WirePlumber and the daemons' real-time requests use it),
// then the graph, then its session manager and pulse server, each once the
// one before listens.
bool SoundServer::SpawnPipeWire(std::vector<std::string> env, std::string& why) {
  const std::string runtime = dir_ + "/runtime", log = dir_ + "/server.log";
  const auto until = Clock::now() + kStartTimeout;
  const std::string bus = runtime + "/bus", busLog = dir_ + "/bus.log";
  // It prints its address once it listens (into a log of this start alone).
  fs::remove(bus);
  fs::remove(busLog);
  const auto listens = [&] { return ReadFile(busLog, "").find("unix:path=") != std::string::npos; };
  if (!Launch({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1",
               "--address=unix:path=" + bus},
              env, busLog, why) ||
      !AwaitFile(busLog, listens, pids_, until)) {
    if (why.empty()) why = "the session bus did not start";
    return false;
  }
  env.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + bus);
  if (!Launch({"pipewire"}, env, log, why) ||
      !AwaitFile(runtime + "/pipewire-0", Exists(runtime + "/pipewire-0"), pids_, until)) {
    if (why.empty()) why = "pipewire did not start";
    return false;
  }
  // pipewire-pulse writes its pid file once its socket listens.
  const std::string pid = runtime + "/pulse/pid";
  fs::remove(pid);
  return Launch({"wireplumber"}, env, log, why) && Launch({"pipewire-pulse"}, env, log, why) &&
         AwaitFile(pid, Exists(pid, true), pids_, until);
}

// Waits until the server answers with the null sink as its default sink.
// PulseAudio loads the sink itself; on PipeWire it is loaded here, and the
// session manager applies the default a moment later.
bool SoundServer::AwaitSink(std::string& why) {
  const std::string sink = kSink;
  if (name_ == "pipewire") {
    Pactl("load-module module-null-sink sink_name=" + sink + " rate=" + std::to_string(rate_) +
          " channels=2 sink_properties=device.description=Pendlo");
  }
  switch (AwaitDefaultSink(ServerString(), sink, Monitor(), pids_, Clock::now() + kStartTimeout)) {
    case SinkWait::kReady:
      return true;
    case SinkWait::kNoAnswer:
      why = name_ + " did not answer";
      break;
    case SinkWait::kNoMonitor:
      why = "no null sink " + sink + " with its monitor";
      break;
    case SinkWait::kNotDefault:
      why = sink + " never became the default sink";
      break;
  }
  return false;
}

void SoundServer::Stop() {
  End(pids_, SIGTERM, std::chrono::milliseconds(2000), true);
  pids_.clear();
}

bool WaitUntilStreaming(sound::clock::AudioClock& clock, std::chrono::milliseconds settle,
                        std::chrono::milliseconds timeout) {
  const auto until = Clock::now() + timeout;
  // Callbacks must be coming: the rendered part of the stream keeps ahead
  // of the clock (a single early callback is not yet a running stream).
  const auto flowing = [&] {
    return clock.Streaming() && clock.RenderedUpTo() > clock.now() - 30000;
  };
  // The clock's own wait: `settle` of its time, which is the stream's while
  // the stream runs, with no re-join between two looks that find it flowing.
  bool flowed = flowing();
  while (Clock::now() < until) {
    const std::uint64_t anchors = clock.Anchors();
    const bool waited = clock.waitUntil(clock.now() + settle.count() * 1000);
    const bool flows = waited && flowing();
    if (flowed && flows && clock.Anchors() == anchors) return true;
    flowed = flows;
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
  if (!AwaitFile(file_, Exists(file_, true), {pid_}, Clock::now() + std::chrono::seconds(10))) {
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
