#include "PairingLink.h"

#include "core/TextRules.h"

#include <QUrlQuery>

namespace PairingLink {

namespace {

// Percent-decodes one query value. Bytes that are not UTF-8 make the value
// unreadable, so the item counts as having none.
std::optional<QString> decodedValue(const QString& encoded) {
    std::optional<QString> value =
        text::decodeUtf8(QByteArray::fromPercentEncoding(encoded.toUtf8()), text::Bom::skip);
    if (!value || value->isEmpty())
        return std::nullopt;
    return value;
}

} // namespace

bool isKorvanLink(const QUrl& url) {
    return url.scheme().compare(u"korvan", Qt::CaseInsensitive) == 0;
}

std::optional<QUrl> firstKorvanLink(const QList<QUrl>& urls) {
    for (const QUrl& url : urls) {
        if (isKorvanLink(url))
            return url;
    }
    return std::nullopt;
}

PairingLinkFields parse(const QUrl& url) {
    PairingLinkFields fields;
    if (!url.isValid() || !url.hasQuery())
        return fields;
    // Items are taken in order, so a repeated name ends with its last value.
    const QUrlQuery query(url.query(QUrl::FullyEncoded));
    for (const auto& [name, encoded] : query.queryItems(QUrl::FullyEncoded)) {
        std::optional<QString>* field = nullptr;
        if (name == u"hub")
            field = &fields.hub;
        else if (name == u"code")
            field = &fields.code;
        if (!field)
            continue;
        if (std::optional<QString> value = decodedValue(encoded))
            *field = std::move(value);
    }
    return fields;
}

PairingFields prefill(PairingFields fields, const QUrl& link) {
    const PairingLinkFields found = parse(link);
    if (found.hub)
        fields.hub = *found.hub;
    if (found.code)
        fields.code = found.code->toUpper();
    return fields;
}

} // namespace PairingLink
