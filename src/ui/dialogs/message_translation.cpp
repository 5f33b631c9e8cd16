#include "ui/dialogs/message_translation.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <vector>

#include "files/store/errors.h"
#include "files/store/message_text.h"
#include "sound/player/click_player.h"

namespace pendlo::ui {

namespace {

// A template and the expression that recognises its messages: the literal
// parts as they are, each %n an argument, the whole line matched.
struct Pattern {
  const char* format;
  QRegularExpression expression;
  std::vector<int> places;  // the n of each captured argument, in order
};

Pattern PatternOf(const char* format) {
  static const QRegularExpression place(QStringLiteral("%([1-9])"));
  const QString text = QString::fromUtf8(format);
  QString expression;
  std::vector<int> places;
  qsizetype from = 0;
  for (const QRegularExpressionMatch& m : place.globalMatch(text)) {
    expression += QRegularExpression::escape(text.mid(from, m.capturedStart() - from));
    expression += QStringLiteral("(.+)");
    places.push_back(m.captured(1).toInt());
    from = m.capturedEnd();
  }
  expression += QRegularExpression::escape(text.mid(from));
  return {format, QRegularExpression(QRegularExpression::anchoredPattern(expression)), places};
}

// The modules' own templates first; the joins of a message to a file or a
// reason last, since nearly any line has their shape.
const std::vector<Pattern>& Patterns() {
  static const std::vector<Pattern> patterns = [] {
    std::vector<Pattern> all;
    for (const char* format : kFileMessages) all.push_back(PatternOf(format));
    for (const char* format : sound::player::kPlayerMessages) all.push_back(PatternOf(format));
    all.push_back(PatternOf(kNamedFormat));
    all.push_back(PatternOf(kReasonFormat));
    return all;
  }();
  return patterns;
}

std::string TranslateLine(const std::string& line) {
  const QString text = QString::fromStdString(line);
  for (const Pattern& p : Patterns()) {
    const QRegularExpressionMatch m = p.expression.match(text);
    if (!m.hasMatch()) continue;
    // Each argument is shorter than the line: the recursion ends.
    std::vector<std::string> args(
        p.places.empty() ? 0 : *std::max_element(p.places.begin(), p.places.end()));
    for (std::size_t i = 0; i < p.places.size(); ++i) {
      args[p.places[i] - 1] = TranslateLine(m.captured(static_cast<int>(i) + 1).toStdString());
    }
    const std::vector<std::string_view> views(args.begin(), args.end());
    return FormatMessage(QCoreApplication::translate(kMessageContext, p.format).toStdString(),
                         views);
  }
  return line;
}

}  // namespace

QString TranslateMessage(const std::string& message) {
  QStringList lines;
  for (const QString& line : QString::fromStdString(message).split(QLatin1Char('\n'))) {
    lines << QString::fromStdString(TranslateLine(line.toStdString()));
  }
  return lines.join(QLatin1Char('\n'));
}

}  // namespace pendlo::ui
