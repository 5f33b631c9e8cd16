// Any bytes as "init.sav": the reader must never crash, fail only with code
// 106, and every value it delivers must read back the same once written.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "files/formats/settings.h"
#include "files/store/errors.h"

using pendlo::EInOutError;
using pendlo::Settings;
using pendlo::SettingsReader;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SettingsReader reader(std::string(reinterpret_cast<const char*>(data), size));
  int values[4] = {};
  for (int& value : values) {
    try {
      value = reader.ReadLine();
    } catch (const EInOutError& e) {
      if (e.Code() != pendlo::kInOutNotANumber) std::abort();
      value = 0;
    }
  }
  const Settings settings{values[0], values[1], values[2], values[3]};
  SettingsReader again(pendlo::FormatSettings(settings));
  for (int value : values) {
    if (again.ReadLine() != (value == INT_MIN ? INT_MIN + 1 : value)) std::abort();
  }
  return 0;
}
