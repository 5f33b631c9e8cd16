#include "sound/pipewire_session.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace pendlo::testing {
namespace {

constexpr const char* kUnset = "\1";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Signals `pid` and reaps it; SIGKILL when it has not ended after `grace`.
void End(pid_t pid, int signal, std::chrono::milliseconds grace) {
  if (pid <= 0) return;
  ::kill(pid, signal);
  const auto until = std::chrono::steady_clock::now() + grace;
  while (std::chrono::steady_clock::now() < until) {
    if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

}  // namespace

PipeWireSession::PipeWireSession(int rate) : rate_(rate) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "pendlo-pw-XXXXXX").string();
  if (::mkdtemp(tmpl.data())) dir_ = tmpl;
  for (const char* sub : {"/runtime", "/home", "/config"})
    std::filesystem::create_directories(dir_ + sub);
  std::filesystem::permissions(dir_ + "/runtime", std::filesystem::perms::owner_all);
}

PipeWireSession::~PipeWireSession() {
  StopRecording();
  Stop();
  End(busPid_, SIGTERM, std::chrono::milliseconds(1000));
  for (const auto& [name, value] : savedEnv_) {
    if (value == kUnset) {
      ::unsetenv(name.c_str());
    } else {
      ::setenv(name.c_str(), value.c_str(), 1);
    }
  }
  std::error_code ec;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

pid_t PipeWireSession::Spawn(const std::vector<std::string>& args, const std::string& out) const {
  // Its own runtime, home and config: nothing of a desktop session is
  // touched, and no other session is reached.
  const std::vector<std::pair<std::string, std::string>> overrides = {
      {"XDG_RUNTIME_DIR", dir_ + "/runtime"},
      {"PIPEWIRE_RUNTIME_DIR", dir_ + "/runtime"},
      {"HOME", dir_ + "/home"},
      {"XDG_CONFIG_HOME", dir_ + "/config"},
      {"DBUS_SESSION_BUS_ADDRESS", bus_},
      {"PULSE_SERVER", PulseServer()},
      {"PIPEWIRE_LOG_SYSTEMD", "false"},
      {"DISABLE_RTKIT", "1"}};
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const auto& [name, value] : overrides) replaced |= entry.rfind(name + "=", 0) == 0;
    if (!replaced) env.push_back(entry);
  }
  for (const auto& [name, value] : overrides) env.push_back(name + "=" + value);
  std::vector<char*> argv, envp;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  const std::string to = out.empty() ? dir_ + "/daemons.log" : out;
  posix_spawn_file_actions_addopen(&actions, 1, to.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, (dir_ + "/daemons.log").c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0600);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

std::string PipeWireSession::Pactl(const std::string& args) const {
  const std::string command = "pactl --server=" + PulseServer() + " " + args + " 2>/dev/null";
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

bool PipeWireSession::Start(std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why + "\n" + ReadFile(dir_ + "/daemons.log");
    Stop();
    return false;
  };
  if (dir_.empty()) return fail("no temporary directory");
  if (!daemons_.empty()) return true;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  if (busPid_ <= 0) {
    const std::string address = dir_ + "/bus.address";
    busPid_ = Spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile",
                     "--address=unix:path=" + dir_ + "/runtime/bus", "--print-address=1"},
                    address);
    if (busPid_ <= 0) return fail("cannot start dbus-daemon");
    while ((bus_ = ReadFile(address)).find('\n') == std::string::npos) {
      if (std::chrono::steady_clock::now() > until) return fail("no session bus");
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    bus_.erase(bus_.find('\n'));
  }
  for (const char* daemon : {"pipewire", "wireplumber", "pipewire-pulse"}) {
    const pid_t pid = Spawn({daemon});
    if (pid <= 0) return fail(std::string("cannot start ") + daemon + " (is it installed?)");
    daemons_.push_back(pid);
  }
  bool loaded = false;
  for (;;) {
    for (pid_t pid : daemons_) {
      if (::waitpid(pid, nullptr, WNOHANG) == pid) return fail("a PipeWire daemon exited");
    }
    if (!loaded && Pactl("info").find("Server Name") != std::string::npos) {
      Pactl("load-module module-null-sink sink_name=" + std::string(kSink) +
            " rate=" + std::to_string(rate_) + " channels=2");
      loaded = true;
    }
    if (loaded) {
      Pactl(std::string("set-default-sink ") + kSink);
      if (Pactl("info").find(std::string("Default Sink: ") + kSink) != std::string::npos) break;
    }
    if (std::chrono::steady_clock::now() > until) return fail("the PipeWire session is not up");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (savedEnv_.empty()) {
    for (const char* name : {"PIPEWIRE_RUNTIME_DIR", "PULSE_SERVER", "SDL_AUDIODRIVER"}) {
      const char* old = std::getenv(name);
      savedEnv_.emplace_back(name, old ? old : kUnset);
    }
  }
  ::setenv("PIPEWIRE_RUNTIME_DIR", (dir_ + "/runtime").c_str(), 1);
  ::setenv("PULSE_SERVER", PulseServer().c_str(), 1);
  ::setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
  return true;
}

void PipeWireSession::Stop() {
  // Last started first; SIGKILL: the daemons vanish as if they crashed.
  for (auto it = daemons_.rbegin(); it != daemons_.rend(); ++it) {
    End(*it, SIGKILL, std::chrono::milliseconds(1000));
  }
  daemons_.clear();
}

bool PipeWireSession::StartRecording(std::string* error) {
  StopRecording();
  recorder_ =
      Spawn({"parec", "--server=" + PulseServer(), "--device=" + std::string(kSink) + ".monitor",
             "--format=float32le", "--rate=" + std::to_string(rate_), "--channels=2", "--raw",
             "--latency-msec=100"},
            dir_ + "/monitor.raw");
  if (recorder_ <= 0) {
    if (error) *error = "cannot start parec (is pulseaudio-utils installed?)";
    return false;
  }
  // Give the recording stream time to connect before anything plays.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  if (::waitpid(recorder_, nullptr, WNOHANG) == recorder_) {
    recorder_ = -1;
    if (error) *error = "parec exited at once";
    return false;
  }
  return true;
}

std::vector<float> PipeWireSession::StopRecording() {
  if (recorder_ <= 0) return {};
  End(recorder_, SIGINT, std::chrono::milliseconds(2000));
  recorder_ = -1;
  const std::string file = dir_ + "/monitor.raw";
  const std::string bytes = ReadFile(file);
  std::vector<float> stereo(bytes.size() / sizeof(float));
  std::memcpy(stereo.data(), bytes.data(), stereo.size() * sizeof(float));
  std::filesystem::remove(file);
  // Recorded in stereo and averaged here: PipeWire's own fold-down to mono
  // adds 3 dB, which would hide what the sink holds.
  std::vector<float> samples(stereo.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = 0.5f * (stereo[2 * i] + stereo[2 * i + 1]);
  }
  return samples;
}

}  // namespace pendlo::testing
