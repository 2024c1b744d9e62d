// Strict UTF-8: whatever decodes encodes back to the same bytes (so nothing
// overlong, no surrogate and no byte-order mark slips through or is lost), and
// everything a well-formed string encodes to decodes.
#include "core/TextRules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<QString> decoded = text::decodeUtf8(bytes);
    FUZZ_CHECK(text::decodeUtf8OrEmpty(bytes) == decoded.value_or(QString()));
    FUZZ_CHECK(!decoded || decoded->toUtf8() == bytes);
    FUZZ_CHECK(text::decodeUtf8(QString::fromUtf8(bytes).toUtf8()) == QString::fromUtf8(bytes));
    return 0;
}
