// A private session bus for a test: dbus-daemon on a socket of its own,
// awaited until it listens, ended with the object.
#pragma once

#include <sys/types.h>

#include <string>

#include "support/files.h"

namespace pendlo::testing {

class SessionBus {
 public:
  // Starts it and waits, at most 20 s, until it prints its address;
  // Address() is "" when it could not start, and Error() says why.
  SessionBus();
  ~SessionBus();
  SessionBus(const SessionBus&) = delete;
  SessionBus& operator=(const SessionBus&) = delete;

  // "unix:path=...", for DBUS_SESSION_BUS_ADDRESS.
  const std::string& Address() const { return address_; }
  const std::string& Error() const { return error_; }

 private:
  TempDir dir_;
  pid_t pid_ = -1;
  std::string address_, error_;
};

}  // namespace pendlo::testing
