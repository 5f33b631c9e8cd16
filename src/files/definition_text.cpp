#include "files/definition_text.h"

#include "files/atomic_write.h"
#include "files/errors.h"
#include "files/text_codec.h"

namespace pendlo {

std::string LoadDefinitionText(const std::string& path, FileSystem& fs) {
  std::string bytes;
  bool tooLarge = false;
  if (const int r = ReadWholeFile(fs, path, kMemoLimitBytes, &bytes, &tooLarge); r < 0) {
    throw EFOpenError(path, -r);
  }
  if (tooLarge) throw EMemoLimitError();
  return DecodeDefinitionText(bytes);
}

void SaveDefinitionText(const std::string& path, const std::string& text, FileSystem& fs) {
  const WriteOutcome outcome = AtomicWrite(path, EncodeDefinitionText(text), fs);
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
