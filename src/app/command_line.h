// The command line: --help, -h and --version answer and end the program
// before anything else runs; an unknown option is refused. The window takes
// every setting, so the program has no options of its own beyond these.
#pragma once

#include <cstdio>
#include <optional>

class QTranslator;

namespace pendlo::app {

// Reads argv before the toolkit starts. Returns the exit status when the
// program is to end now (0 after --help or --version, written to out; 2
// after an unknown option or argument, said on err), nothing to go on.
// Touches no file and no display. The toolkit's own options that a session
// manager or a user may pass (-platform, -display, -session, -style and
// their values, -reverse) are left for it. The texts come from `texts`
// where it translates them, in Japanese otherwise; UTF-8 either way.
std::optional<int> AnswerCommandLine(int argc, const char* const* argv, std::FILE* out,
                                     std::FILE* err, const QTranslator* texts = nullptr);

}  // namespace pendlo::app
