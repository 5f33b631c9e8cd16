#include "files/store/message_text.h"

namespace pendlo {

std::string FormatMessage(std::string_view format, std::span<const std::string_view> given) {
  std::string out;
  for (std::size_t i = 0; i < format.size(); ++i) {
    const bool place =
        format[i] == '%' && i + 1 < format.size() && format[i + 1] >= '1' && format[i + 1] <= '9';
    const std::size_t n = place ? static_cast<std::size_t>(format[i + 1] - '1') : given.size();
    if (n < given.size()) {
      out += given[n];
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

}  // namespace pendlo
