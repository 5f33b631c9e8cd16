// The user-facing messages of the Qt-free modules: Japanese templates with
// %1, %2 ... for their arguments. The window translates a message where it
// shows it, by finding the template it was made from (ui/dialogs/
// message_translation.h), so the modules themselves stay free of Qt.
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

// Yields the template itself; the translation tools read it as Qt's
// QT_TRANSLATE_NOOP (lupdate -tr-function-alias), so every marked template
// lands in the translation file under `context`.
#define PENDLO_MESSAGE(context, text) text

namespace pendlo {

// The context every marked template of the core is translated in.
inline constexpr const char* kMessageContext = "pendlo::Messages";

// A message joined to what it concerns ("init.sav: <message>") or to its
// reason ("<message> (<reason>)"); not translated themselves.
inline constexpr const char* kNamedFormat = "%1: %2";
inline constexpr const char* kReasonFormat = "%1 (%2)";

// `format` with %1 ... %9 replaced by args in order; a place without an
// argument stays as written. Arguments are not searched for places.
std::string FormatMessage(std::string_view format, std::span<const std::string_view> args);
inline std::string FormatMessage(std::string_view format,
                                 std::initializer_list<std::string_view> args) {
  return FormatMessage(format, std::span(args.begin(), args.size()));
}

}  // namespace pendlo
