// One running copy of the program per data directory: the first copy holds
// an abstract Unix socket named after the directory (released by the kernel
// however the process ends); a later copy finds it taken, asks the running
// copy to bring its window to the front and ends.
#pragma once

#include <functional>
#include <memory>
#include <string>

class QObject;
class QSocketNotifier;

namespace pendlo::app {

class SingleInstance {
 public:
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // Claims dir for this process. Returns the claim, or null when another
  // copy of the same user holds dir: that copy has then been asked to show
  // its window (*asked true). Null with *asked false when no claim can be
  // made at all (no sockets): the program then runs unguarded.
  static std::unique_ptr<SingleInstance> Claim(const std::string& dir, bool* asked);

  // Runs raise on the GUI thread for each request of a later copy, also one
  // made before this call. Needs the application object.
  void OnRaiseRequest(QObject* context, std::function<void()> raise);

 private:
  explicit SingleInstance(int fd) : fd_(fd) {}
  void Accept();

  int fd_;
  QSocketNotifier* notifier_ = nullptr;
  std::function<void()> raise_;
};

}  // namespace pendlo::app
