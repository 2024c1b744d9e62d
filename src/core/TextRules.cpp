#include "core/TextRules.h"

#include "core/Utf8Text.h"

#include <QStringDecoder>

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

} // namespace text
