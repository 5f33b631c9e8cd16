#include "sound/output/pulse/pulse_library.h"

#include "sound/output/shared_library.h"

namespace pendlo::sound::output::pulse {
namespace {

LoadedLibrary<PulseLibrary> Load() {
  return LoadLibrary<PulseLibrary>("libpulse.so.0", "libpulse",
                                   [](SymbolFinder& find, PulseLibrary& table) {
                                     return true PENDLO_PULSE_FUNCTIONS(PENDLO_LIBRARY_FIND);
                                   });
}

HeldLibrary<PulseLibrary>& Held() {
  static HeldLibrary<PulseLibrary> held(&Load, nullptr);
  return held;
}

}  // namespace

const PulseLibrary* AcquirePulse(std::string* why) {
  return Held().Acquire(why);
}

void ReleasePulse() {
  Held().Release();
}

}  // namespace pendlo::sound::output::pulse
