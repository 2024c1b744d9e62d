#include "core/TextRules.h"

#include <QStringDecoder>

#include <algorithm>
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

} // namespace text
