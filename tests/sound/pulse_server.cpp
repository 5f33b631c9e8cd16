#include "sound/pulse_server.h"

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

#include "sound/audio_clock.h"

extern char** environ;

namespace pendlo::testing {
namespace {

constexpr const char* kUnset = "\1";

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

// Starts `args` with the given environment and, when `out` is not empty,
// standard output into that file. The child's pid, or -1.
pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
            const std::string& out = {}) {
  std::vector<char*> argv, envp;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (!out.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
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

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

PulseServer::PulseServer(int rate) : rate_(rate) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "pendlo-pulse-XXXXXX").string();
  if (::mkdtemp(tmpl.data())) dir_ = tmpl;
  for (const char* sub : {"/runtime", "/home", "/config"})
    std::filesystem::create_directories(dir_ + sub);
  std::filesystem::permissions(dir_ + "/runtime", std::filesystem::perms::owner_all);
}

PulseServer::~PulseServer() {
  Stop();
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

std::string PulseServer::ServerString() const {
  return "unix:" + dir_ + "/runtime/native";
}

std::string PulseServer::Pactl(const std::string& args) const {
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

bool PulseServer::Start(std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    Stop();
    return false;
  };
  if (dir_.empty()) return fail("no temporary directory");
  if (pid_ > 0) return true;
  std::filesystem::remove(dir_ + "/runtime/native");
  const std::string log = dir_ + "/server.log";
  // Its own runtime, home and config directories: nothing of a desktop
  // session is touched, and root is allowed (a per-user server).
  const std::vector<std::string> env = Environment({{"XDG_RUNTIME_DIR", dir_ + "/runtime"},
                                                    {"HOME", dir_ + "/home"},
                                                    {"XDG_CONFIG_HOME", dir_ + "/config"},
                                                    {"PULSE_SERVER", ""}});
  pid_ = Spawn(
      {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
       "--system=false", "--use-pid-file=false", "--no-cpu-limit=true", "--log-target=file:" + log,
       "--load=module-native-protocol-unix auth-anonymous=1 socket=" + dir_ + "/runtime/native",
       "--load=module-null-sink sink_name=" + std::string(kSink) +
           " rate=" + std::to_string(rate_) + " sink_properties=device.description=Pendlo"},
      env);
  if (pid_ <= 0) return fail("cannot start pulseaudio (is it installed?)");

  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return fail("pulseaudio exited: " + ReadFile(log));
    }
    if (Pactl("list short sinks").find(kSink) != std::string::npos) break;
    if (std::chrono::steady_clock::now() > until)
      return fail("pulseaudio did not answer: " + ReadFile(log));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  Pactl(std::string("set-default-sink ") + kSink);

  if (savedEnv_.empty()) {
    for (const char* name : {"PULSE_SERVER", "SDL_AUDIODRIVER"}) {
      const char* old = std::getenv(name);
      savedEnv_.emplace_back(name, old ? old : kUnset);
    }
  }
  ::setenv("PULSE_SERVER", ServerString().c_str(), 1);
  ::setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
  return true;
}

void PulseServer::Stop() {
  End(pid_, SIGTERM, std::chrono::milliseconds(2000));
  pid_ = -1;
}

bool WaitUntilStreaming(AudioClock& clock, std::chrono::milliseconds settle,
                        std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  auto steadySince = std::chrono::steady_clock::now();
  std::uint64_t anchors = clock.Anchors();
  while (std::chrono::steady_clock::now() < until) {
    const auto now = std::chrono::steady_clock::now();
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

MonitorRecorder::MonitorRecorder(const PulseServer& server) : server_(server) {
  static int count = 0;
  file_ = server.Dir() + "/monitor-" + std::to_string(++count) + ".raw";
}

MonitorRecorder::~MonitorRecorder() {
  Stop();
}

bool MonitorRecorder::Start(std::string* error) {
  pid_ = Spawn({"parec", "--server=" + server_.ServerString(), "--device=" + server_.Monitor(),
                "--format=float32le", "--rate=" + std::to_string(server_.Rate()), "--channels=1",
                "--raw", "--latency-msec=20"},
               Environment({}), file_);
  if (pid_ <= 0) {
    if (error) *error = "cannot start parec (is pulseaudio-utils installed?)";
    return false;
  }
  // Give the recording stream time to connect before anything plays.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
    pid_ = -1;
    if (error) *error = "parec exited at once";
    return false;
  }
  return true;
}

std::vector<float> MonitorRecorder::Stop() {
  if (pid_ <= 0) return {};
  End(pid_, SIGINT, std::chrono::milliseconds(2000));
  pid_ = -1;
  const std::string bytes = ReadFile(file_);
  std::vector<float> samples(bytes.size() / sizeof(float));
  std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
  std::filesystem::remove(file_);
  return samples;
}

}  // namespace pendlo::testing
