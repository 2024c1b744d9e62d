#include "core/TextRules.h"

#include <QStringDecoder>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <array>
#include <cstring>

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

namespace {

// True when `bytes` is well-formed UTF-8: no overlong forms, no surrogates,
// nothing past U+10FFFF, no cut sequence. Runs of ASCII are checked eight
// bytes at a time, since reports and installer output are mostly ASCII.
bool isWellFormedUtf8(QByteArrayView bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned char* const end = p + bytes.size();
    while (p < end) {
        if (end - p >= 8) {
            quint64 word;
            std::memcpy(&word, p, sizeof word);
            if ((word & 0x8080808080808080ULL) == 0) {
                p += 8;
                continue;
            }
        }
        const unsigned char lead = *p;
        if (lead < 0x80) {
            ++p;
            continue;
        }
        int length;
        unsigned char low = 0x80; // bounds of the second byte
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0)
                low = 0xA0;
            else if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0)
                low = 0x90;
            else if (lead == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        if (end - p < length || p[1] < low || p[1] > high)
            return false;
        for (int i = 2; i < length; ++i)
            if ((p[i] & 0xC0) != 0x80)
                return false;
        p += length;
    }
    return true;
}

} // namespace

bool appendUtf8(QString& text, QByteArrayView bytes) {
    // Validating first and then converting with Qt's own decoder straight into
    // the text is several times faster than decoding strictly in one pass.
    // Each byte gives at most one UTF-16 unit, so the room is reserved up
    // front (growing by doubling, as appends do).
    if (!isWellFormedUtf8(bytes))
        return false;
    const qsizetype at = text.size();
    if (text.capacity() < at + bytes.size())
        text.reserve(std::max(2 * text.capacity(), at + bytes.size()));
    text.resize(at + bytes.size());
    // A byte-order mark is text here, wherever it stands.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    const QChar* end = decoder.appendToBuffer(text.data() + at, bytes);
    text.truncate(end - text.constData());
    return true;
}

std::optional<QString> decodeUtf8(const QByteArray& bytes) {
    QString text;
    if (!appendUtf8(text, bytes))
        return std::nullopt;
    return text;
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
