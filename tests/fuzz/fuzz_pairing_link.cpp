// The korvan link parser on any text read as a URL: a field it sets is
// non-empty well-formed Unicode, the same fields come back from a link built
// from them, and an item added at the end wins.
#include "core/PairingLink.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString input = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QUrl& url : {QUrl(input), QUrl(input, QUrl::StrictMode)}) {
        const PairingLinkFields f = PairingLink::parse(url);
        QString built = QStringLiteral("korvan://pair?x");
        for (const auto& [name, field] : {std::pair{u"&hub=", f.hub}, {u"&code=", f.code}}) {
            FUZZ_CHECK(!field || (!field->isEmpty() && QStringView(*field).isValidUtf16()));
            if (field)
                built += name + QString::fromLatin1(QUrl::toPercentEncoding(*field));
        }
        const PairingLinkFields again = PairingLink::parse(QUrl(built, QUrl::StrictMode));
        FUZZ_CHECK(again.hub == f.hub && again.code == f.code);
        QUrl later = url;
        later.setQuery(url.query(QUrl::FullyEncoded) + u"&hub=z&code=z");
        const PairingLinkFields last = PairingLink::parse(later);
        FUZZ_CHECK(!url.isValid() || !url.hasQuery() || (last.hub == u"z" && last.code == u"z"));
    }
    return 0;
}
