// The core's messages (files, sound) in the window's language. They reach
// the window as finished Japanese text, a line per failure; each line is
// matched against the templates it can be made from and built again from
// the template's translation, its arguments translated the same way (a
// reason may itself be a message) and a file name left as it is.
#pragma once

#include <QString>
#include <string>

namespace pendlo::ui {

// `message` (UTF-8) with each line translated where a template matches it;
// a line no template makes stays as it is. The Japanese text is its own
// translation, so with no translator installed the message comes back
// unchanged. GUI thread.
QString TranslateMessage(const std::string& message);

}  // namespace pendlo::ui
