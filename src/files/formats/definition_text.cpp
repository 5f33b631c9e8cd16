#include "files/formats/definition_text.h"

#include "files/formats/text_codec.h"
#include "files/store/atomic_write.h"
#include "files/store/errors.h"

namespace pendlo {

namespace {

// The size of the file loading bytes and saving the text would write: cut
// at the first NUL, each lone CR or LF grown to CR LF.
std::size_t WrittenBackSize(std::string_view bytes) {
  bytes = bytes.substr(0, bytes.find('\0'));
  std::size_t size = bytes.size();
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
      ++i;
    } else if (bytes[i] == '\r' || bytes[i] == '\n') {
      ++size;
    }
  }
  return size;
}

}  // namespace

std::string ReadDefinitionFile(const std::string& path, FileSystem& fs) {
  std::string bytes;
  bool tooLarge = false;
  if (const int r =
          ReadRegularFile(fs, path, kMemoLimitBytes, OverLimit::kRefuse, &bytes, &tooLarge);
      r < 0) {
    throw EFOpenError(path, -r);
  }
  if (tooLarge || WrittenBackSize(bytes) > kMemoLimitBytes) throw EMemoLimitError();
  return bytes;
}

std::string LoadDefinitionText(const std::string& path, FileSystem& fs) {
  return DecodeDefinitionText(ReadDefinitionFile(path, fs));
}

bool SavesAs(const std::string& text, std::string_view fileBytes) {
  const std::string saved = EncodeDefinitionText(text);
  std::size_t s = 0;
  for (std::size_t i = 0; i < fileBytes.size(); ++i) {
    const char b = fileBytes[i];
    if (b == '\r' || b == '\n') {
      if (saved.compare(s, 2, "\r\n") != 0) return false;
      s += 2;
      if (b == '\r' && i + 1 < fileBytes.size() && fileBytes[i + 1] == '\n') ++i;
    } else {
      if (s >= saved.size() || saved[s] != b) return false;
      ++s;
    }
  }
  return s == saved.size();
}

void SaveDefinitionText(const std::string& path, const std::string& text, FileSystem& fs) {
  const std::string bytes = EncodeDefinitionText(text);
  if (bytes.size() > kMemoLimitBytes) throw EMemoLimitError();
  const WriteOutcome outcome = AtomicWrite(path, bytes, fs);
  switch (outcome.stage) {
    case WriteStage::kNone:
      return;
    case WriteStage::kCreate:
      throw EFCreateError(path, outcome.err);
    case WriteStage::kWrite:
      throw EWriteError(outcome.err);
  }
}

std::string ForceDtpExtension(const std::string& name) {
  const auto slash = name.rfind('/');
  const auto elementStart = slash == std::string::npos ? 0 : slash + 1;
  const auto dot = name.rfind('.');
  if (dot == std::string::npos || dot < elementStart) return name + ".dtp";
  return name.substr(0, dot) + ".dtp";
}

}  // namespace pendlo
