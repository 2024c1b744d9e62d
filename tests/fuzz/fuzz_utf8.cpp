// Strict UTF-8: whatever is accepted makes a text that encodes back to the
// same bytes (so nothing overlong, no surrogate and no byte-order mark slips
// through or is lost), everything a well-formed string encodes to is
// accepted, and bytes committed in two pieces, cut anywhere, are judged as
// the whole.
#include "core/TextRules.h"
#include "core/Utf8Text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<Utf8Text> text = Utf8Text::fromUtf8(bytes);
    FUZZ_CHECK(text::decodeUtf8OrEmpty(bytes) == (text ? text->toString() : QString()));
    FUZZ_CHECK(!text || text->toString().toUtf8() == bytes);
    FUZZ_CHECK(text::decodeUtf8(QString::fromUtf8(bytes).toUtf8()) == QString::fromUtf8(bytes));

    const qsizetype cut = size == 0 ? 0 : qsizetype((data[0] | data[size - 1] << 8) % (size + 1));
    Utf8Text::Builder builder;
    for (const QByteArrayView piece :
         {QByteArrayView(bytes).first(cut), QByteArrayView(bytes).sliced(cut)}) {
        std::copy(piece.begin(), piece.end(), builder.room(piece.size()));
        builder.commit(piece.size());
    }
    FUZZ_CHECK(builder.takeText() == text);
    return 0;
}
