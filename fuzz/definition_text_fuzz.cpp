// Any bytes as a definition file, and as memo text typed by the user.
// A loaded text saves to bytes that load as the same text and save again to
// the same bytes; a file already in saved form (no NUL, CR LF line breaks)
// comes back byte for byte. What the window shows as the user types is what
// a save and a load give back.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "files/formats/text_codec.h"

using pendlo::DecodeDefinitionText;
using pendlo::EncodeDefinitionText;
using pendlo::ToCp932Representable;

namespace {

bool InSavedForm(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\0') return false;
    if (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n')) return false;
    if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const std::string text = DecodeDefinitionText(bytes);
  const std::string saved = EncodeDefinitionText(text);
  if (DecodeDefinitionText(saved) != text) std::abort();
  if (EncodeDefinitionText(DecodeDefinitionText(saved)) != saved) std::abort();
  if (InSavedForm(bytes) && saved != bytes) std::abort();
  if (ToCp932Representable(text) != text) std::abort();

  const std::string shown = ToCp932Representable(bytes);
  if (ToCp932Representable(shown) != shown) std::abort();
  if (DecodeDefinitionText(EncodeDefinitionText(shown)) !=
      DecodeDefinitionText(EncodeDefinitionText(bytes))) {
    std::abort();
  }
  return 0;
}
