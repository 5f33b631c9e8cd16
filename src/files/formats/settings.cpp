#include "files/formats/settings.h"

#include <climits>
#include <cstdint>
#include <string_view>

#include "files/store/atomic_write.h"
#include "files/store/data_dir.h"
#include "files/store/errors.h"

namespace pendlo {

namespace {

constexpr char kEndOfFile = 0x1A;
constexpr std::size_t kMaxToken = 32;
constexpr long long kDecimalLimit = 2147483647;

bool IsBlank(unsigned char c) {
  return c <= 0x20;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The integer a token spells, or false.
bool ParseInteger(std::string_view token, int* value) {
  if (token.empty() || token.size() > kMaxToken) return false;
  if (token[0] == '$') {
    const std::string_view digits = token.substr(1);
    if (digits.empty() || digits.size() > 8) return false;
    std::uint32_t v = 0;
    for (char c : digits) {
      const int d = HexValue(c);
      if (d < 0) return false;
      v = v << 4 | static_cast<std::uint32_t>(d);
    }
    *value = static_cast<std::int32_t>(v);  // two's complement: $FFFFFFFF is -1
    return true;
  }
  bool negative = false;
  if (token[0] == '-' || token[0] == '+') {
    negative = token[0] == '-';
    token.remove_prefix(1);
  }
  if (token.empty()) return false;
  long long v = 0;
  for (char c : token) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
    if (v > kDecimalLimit) return false;  // also keeps 32 digits from overflowing
  }
  *value = static_cast<int>(negative ? -v : v);
  return true;
}

}  // namespace

SettingsReader::SettingsReader(std::string bytes, std::string file)
    : bytes_(std::move(bytes)), file_(std::move(file)) {
  if (const auto end = bytes_.find(kEndOfFile); end != std::string::npos) bytes_.resize(end);
}

int SettingsReader::ReadLine() {
  while (pos_ < bytes_.size() && IsBlank(static_cast<unsigned char>(bytes_[pos_]))) ++pos_;
  if (pos_ == bytes_.size()) return 0;

  const std::size_t start = pos_;
  while (pos_ < bytes_.size() && !IsBlank(static_cast<unsigned char>(bytes_[pos_]))) ++pos_;
  // A token longer than 32 characters is refused whole rather than read from
  // its first 32, which could give a different number ("000...072" as 0).
  int value = 0;
  const bool ok = ParseInteger(std::string_view(bytes_).substr(start, pos_ - start), &value);

  const auto cr = bytes_.find('\r', pos_);
  if (cr == std::string::npos) {
    pos_ = bytes_.size();
  } else {
    pos_ = cr + 1;
    if (pos_ < bytes_.size() && bytes_[pos_] == '\n') ++pos_;
  }
  if (!ok) throw EInOutError(kInOutNotANumber, file_);
  return value;
}

SettingsReader OpenSettings(const std::string& dir, FileSystem& fs) {
  const std::string path = DataFile(dir, kSettingsFile);
  std::string bytes;
  bool tooLarge = false;
  const int r = ReadRegularFile(fs, path, kSettingsReadLimit, OverLimit::kHead, &bytes, &tooLarge);
  if (r < 0) throw EInOutError::FromErrno(-r, path);
  return SettingsReader(std::move(bytes), path);
}

std::string FormatSettings(const Settings& settings) {
  std::string out;
  for (int v : {settings.tempo, settings.meter, settings.left, settings.top}) {
    // INT_MIN is the one int the reader refuses in decimal; a window pushed
    // that far off the screen loses nothing by one pixel.
    if (v == INT_MIN) v = INT_MIN + 1;
    out += std::to_string(v);
    out += "\r\n";
  }
  return out;
}

void SaveSettings(const std::string& dir, const Settings& settings, FileSystem& fs) {
  const std::string path = DataFile(dir, kSettingsFile);
  const WriteOutcome outcome = AtomicWrite(path, FormatSettings(settings), fs);
  if (!outcome.ok()) throw EInOutError::FromErrno(outcome.err, path);
}

}  // namespace pendlo
