#include "app/single_instance.h"

#include <limits.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace pendlo::app {

namespace {

// A copy that finds the name taken but cannot connect (the holder is between
// bind and listen, or just ended) tries again this often.
constexpr int kClaimTries = 50;

// The socket's name in the abstract namespace: the user and a hash of the
// directory's real path, so two spellings of one directory are one claim.
sockaddr_un AddressFor(const std::string& dir, socklen_t* length) {
  char real[PATH_MAX];
  const std::string path = realpath(dir.c_str(), real) != nullptr ? std::string(real) : dir;
  std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
  for (const unsigned char c : path) hash = (hash ^ c) * 1099511628211ULL;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  char name[64];
  const int n =
      std::snprintf(name, sizeof name, "pendlo-%u-%016llx", static_cast<unsigned>(getuid()),
                    static_cast<unsigned long long>(hash));
  std::memcpy(address.sun_path + 1, name, static_cast<std::size_t>(n));  // [0] stays NUL
  *length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + static_cast<std::size_t>(n));
  return address;
}

}  // namespace

SingleInstance::~SingleInstance() {
  delete notifier_;
  close(fd_);
}

std::unique_ptr<SingleInstance> SingleInstance::Claim(const std::string& dir, bool* asked) {
  *asked = false;
  socklen_t length = 0;
  const sockaddr_un address = AddressFor(dir, &length);
  const auto* sa = reinterpret_cast<const sockaddr*>(&address);
  for (int i = 0; i < kClaimTries; ++i) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return nullptr;
    if (bind(fd, sa, length) == 0) {
      if (listen(fd, 8) != 0) {
        close(fd);
        return nullptr;
      }
      return std::unique_ptr<SingleInstance>(new SingleInstance(fd));
    }
    if (errno != EADDRINUSE) {
      close(fd);
      return nullptr;
    }
    // Taken: the holder accepts the connection as its request.
    const int client = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool connected = client >= 0 && connect(client, sa, length) == 0;
    if (client >= 0) close(client);
    close(fd);
    if (connected) {
      *asked = true;
      return nullptr;
    }
  }
  return nullptr;
}

void SingleInstance::OnRaiseRequest(QObject* context, std::function<void()> raise) {
  raise_ = std::move(raise);
  delete notifier_;
  notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read);
  QObject::connect(notifier_, &QSocketNotifier::activated, context, [this] { Accept(); });
  Accept();  // requests made before the event loop ran
}

void SingleInstance::Accept() {
  bool request = false;
  for (;;) {
    const int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) break;  // EAGAIN: all taken
    ucred peer{};
    socklen_t size = sizeof peer;
    // Another user may not move this user's window.
    if (getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == getuid()) {
      request = true;
    }
    close(client);
  }
  if (request && raise_) raise_();
}

}  // namespace pendlo::app
