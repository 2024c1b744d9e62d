#include "TextRules.h"

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

std::optional<QString> decodeUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    QString decoded = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return decoded;
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
