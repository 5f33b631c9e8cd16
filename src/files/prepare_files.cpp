#include "files/prepare_files.h"

#include <optional>
#include <string_view>

#include "files/store/atomic_write.h"
#include "files/store/data_dir.h"
#include "files/store/errors.h"

namespace pendlo {

void PrepareFiles(const std::string& dir, std::span<const std::uint8_t> accentWave,
                  std::span<const std::uint8_t> plainWave, FileSystem& fs) {
  const auto bytes = [](std::span<const std::uint8_t> s) {
    return std::string_view(reinterpret_cast<const char*>(s.data()), s.size());
  };
  const struct {
    const char* name;
    std::string_view content;
  } steps[] = {
      {kAccentWaveFile, bytes(accentWave)},
      {kPlainWaveFile, bytes(plainWave)},
      {kSettingsFile, kInitialSettings},
  };
  // Written atomically, a file cut short by a full disk cannot survive as
  // "existing" and be kept forever; a failed step does not stop the others.
  std::optional<EInOutError> first;
  for (const auto& step : steps) {
    const std::string path = DataFile(dir, step.name);
    if (FileExists(path, fs)) continue;
    const WriteOutcome outcome = AtomicWrite(path, step.content, fs);
    if (!outcome.ok() && !first) first = EInOutError::FromErrno(outcome.err, path);
  }
  if (first) throw *first;
}

}  // namespace pendlo
