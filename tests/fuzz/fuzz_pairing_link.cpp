// The korvan link parser on any text read as a URL: a field it sets is never
// empty, is well-formed Unicode, and is what the query's last usable item of
// that name says.
#include "FuzzReference.h"
#include "core/PairingLink.h"

#include <QUrlQuery>

namespace {

bool wellFormed(const QString& s) {
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c.isHighSurrogate()) {
            if (i + 1 >= s.size() || !s[i + 1].isLowSurrogate())
                return false;
            ++i;
        } else if (c.isLowSurrogate()) {
            return false;
        }
    }
    return true;
}

// The last item named `name` whose value percent-decodes to non-empty UTF-8.
std::optional<QString> referenceField(const QUrl& url, QLatin1String name) {
    if (!url.isValid() || !url.hasQuery())
        return std::nullopt;
    std::optional<QString> found;
    const QString query = url.query(QUrl::FullyEncoded);
    for (const QString& item : query.split(u'&')) {
        const qsizetype eq = item.indexOf(u'=');
        if (eq < 0 || item.left(eq) != name)
            continue;
        const QByteArray bytes = QByteArray::fromPercentEncoding(item.mid(eq + 1).toUtf8());
        const auto points = reference::decodeUtf8(bytes);
        if (!points || points->empty())
            continue;
        found = QString::fromUcs4(points->data(), qsizetype(points->size()));
    }
    return found;
}

void checkField(const std::optional<QString>& field, const QUrl& url, QLatin1String name) {
    if (field) {
        FUZZ_CHECK(!field->isEmpty());
        FUZZ_CHECK(wellFormed(*field));
    }
    FUZZ_CHECK(field == referenceField(url, name));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString input = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QUrl& url : {QUrl(input), QUrl(input, QUrl::StrictMode)}) {
        const PairingLinkFields fields = PairingLink::parse(url);
        checkField(fields.hub, url, QLatin1String("hub"));
        checkField(fields.code, url, QLatin1String("code"));
        // Reading the link back from its own encoded form gives the same fields.
        if (url.isValid()) {
            const PairingLinkFields again =
                PairingLink::parse(QUrl(url.toString(QUrl::FullyEncoded), QUrl::StrictMode));
            FUZZ_CHECK(again.hub == fields.hub);
            FUZZ_CHECK(again.code == fields.code);
        }
    }
    return 0;
}
