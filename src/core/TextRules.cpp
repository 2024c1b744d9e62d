#include "core/TextRules.h"

#include "core/Utf8Text.h"

#include <QStringDecoder>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <array>

namespace text {

QString trimmed(QStringView s) {
    // QChar::isSpace is exactly the white-space-and-newlines set: the Z*
    // categories plus U+0009..U+000D and U+0085.
    return s.trimmed().toString();
}

QList<QStringView> splitLines(QStringView s) {
    QList<QStringView> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] != u'\n' || (i > 0 && s[i - 1] == u'\r'))
            continue;
        if (i > start)
            lines.append(s.sliced(start, i - start));
        start = i + 1;
    }
    if (start < s.size())
        lines.append(s.sliced(start));
    return lines;
}

QString fromWellFormedUtf8(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

std::optional<QString> decodeUtf8(const QByteArray& bytes) {
    const std::optional<Utf8Text> text = Utf8Text::fromUtf8(bytes);
    if (!text)
        return std::nullopt;
    return text->toString();
}

std::optional<QString> decodeUtf8(const QByteArray& bytes, Bom bom) {
    std::optional<QString> decoded = decodeUtf8(bytes);
    if (bom == Bom::skip && decoded && decoded->startsWith(QChar(0xFEFF)))
        decoded->remove(0, 1);
    return decoded;
}

QString decodeUtf8OrEmpty(const QByteArray& bytes) {
    return decodeUtf8(bytes).value_or(QString());
}

namespace {

constexpr qsizetype kLinesPerEnd = 10;
constexpr int kClustersPerEnd = 1000;
constexpr qsizetype kUnitsPerEnd = 16384;
constexpr QChar kEllipsis(0x2026);

// The length of the line break that starts at `i`, or 0.
qsizetype breakAt(QStringView s, qsizetype i) {
    switch (s[i].unicode()) {
    case u'\r':
        return i + 1 < s.size() && s[i + 1] == u'\n' ? 2 : 1;
    case u'\n':
    case u'\v':
    case u'\f':
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return 1;
    default:
        return 0;
    }
}

QString withoutMiddleLines(const QString& s) {
    // One pass, remembering where the 10th break starts and where each of
    // the last 10 ends: a text of a million line feeds needs no list of them.
    qsizetype headEnd = 0;
    std::array<qsizetype, kLinesPerEnd> lastEnds{};
    qsizetype breaks = 0;
    for (qsizetype i = 0; i < s.size();) {
        const qsizetype length = breakAt(s, i);
        if (length == 0) {
            ++i;
            continue;
        }
        if (++breaks == kLinesPerEnd)
            headEnd = i;
        i += length;
        lastEnds[breaks % kLinesPerEnd] = i;
    }
    if (breaks + 1 <= 2 * kLinesPerEnd)
        return s;
    const qsizetype tailStart = lastEnds[(breaks + 1) % kLinesPerEnd];
    return s.left(headEnd) + u'\n' + kEllipsis + u'\n' + s.mid(tailStart);
}

QString withoutMiddleClusters(const QString& s) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s);
    if (s.size() <= 2 * kUnitsPerEnd) {
        int clusters = 0;
        while (clusters <= 2 * kClustersPerEnd && finder.toNextBoundary() != -1)
            ++clusters;
        if (clusters <= 2 * kClustersPerEnd)
            return s;
    }
    // Past 2,000 clusters the two ends hold 1,000 each, and past twice the
    // unit budget each end is within it: either way they cannot meet.
    qsizetype headEnd = 0;
    finder.toStart();
    for (int n = 0; n < kClustersPerEnd; ++n) {
        const qsizetype at = finder.toNextBoundary();
        if (at == -1 || at > kUnitsPerEnd)
            break;
        headEnd = at;
    }
    qsizetype tailStart = s.size();
    finder.toEnd();
    for (int n = 0; n < kClustersPerEnd; ++n) {
        const qsizetype at = finder.toPreviousBoundary();
        if (at == -1 || s.size() - at > kUnitsPerEnd)
            break;
        tailStart = at;
    }
    return s.left(headEnd) + kEllipsis + s.mid(tailStart);
}

} // namespace

QString alertExcerpt(const QString& s) {
    return withoutMiddleClusters(withoutMiddleLines(s));
}

} // namespace text
