#include "TextRules.h"

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
bool isWellFormedUtf8(const QByteArray& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
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

std::optional<QString> decodeUtf8(const QByteArray& bytes) {
    // Qt's own conversion is several times faster than a strict decoder and
    // gives the same text on well-formed input, except that it drops an
    // initial byte-order mark, which is text here.
    if (!isWellFormedUtf8(bytes))
        return std::nullopt;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QChar(0xFEFF) + QString::fromUtf8(bytes.sliced(3));
    return QString::fromUtf8(bytes);
}

QString decodeUtf8OrEmpty(const QByteArray& bytes) {
    return decodeUtf8(bytes).value_or(QString());
}

} // namespace text
