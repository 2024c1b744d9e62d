#include "PairingOutcome.h"

#include "PairingTexts.h"

#include <QTextBoundaryFinder>

namespace PairingOutcome {

namespace {

constexpr int kDetailLength = 240;

// The last `count` grapheme clusters of `s`, so a cut never splits a
// character the user sees as one (surrogate pairs, combining marks, emoji).
QString lastGraphemes(const QString& s, int count) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s);
    finder.toEnd();
    qsizetype start = s.size();
    for (int i = 0; i < count; ++i) {
        const qsizetype previous = finder.toPreviousBoundary();
        if (previous <= 0)
            return s;
        start = previous;
    }
    return s.sliced(start);
}

} // namespace

std::optional<QString> normalizedCode(const QString& typed) {
    // QString::toUpper follows the Unicode tables and ignores the locale.
    const QString code = typed.trimmed().toUpper();
    if (code.isEmpty())
        return std::nullopt;
    return code;
}

QString normalizedHub(const QString& typed) {
    return typed.trimmed();
}

QString successLine() {
    return PairingTexts::success;
}

QString failureLine(const CommandResult& result) {
    const QString detail =
        (result.error.isEmpty() ? result.output : result.error).toString().trimmed();
    if (detail.isEmpty())
        return PairingTexts::genericFailure;
    return lastGraphemes(detail, kDetailLength);
}

} // namespace PairingOutcome
