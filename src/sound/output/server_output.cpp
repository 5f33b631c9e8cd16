#include "sound/output/server_output.h"

#include "timer/clock.h"

namespace pendlo::sound::output {

bool ServerOutput::Open(RenderTarget& target, const StreamRequest& request,
                        clips::StreamFormat& format, std::string& error) {
  Close();
  answered_ = false;
  if (!AcquireLibrary(error)) return false;
  target_ = &target;
  SetStarted(false);
  lost_ = false;
  raise_.Reset();
  if (!StartLoop(error)) {
    Close();
    return false;
  }
  LockLoop();
  const bool ok = ConnectStream(request, format, error);
  UnlockLoop();
  if (!ok) Close();
  return ok;
}

void ServerOutput::ReportLost() {
  if (lost_ || !Started()) return;
  lost_ = true;
  float none[2] = {};  // no frames: nothing is written to it
  target_->Lost_RT(none, 0, steadyNowMicros());
}

}  // namespace pendlo::sound::output
