// Strict UTF-8 decoding against a hand-written validator, and the round trip.
#include "FuzzReference.h"
#include "core/TextRules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<QString> decoded = text::decodeUtf8(bytes);
    const std::optional<std::vector<char32_t>> expected = reference::decodeUtf8(bytes);
    FUZZ_CHECK(decoded.has_value() == expected.has_value());
    if (!decoded) {
        FUZZ_CHECK(text::decodeUtf8OrEmpty(bytes).isEmpty());
        return 0;
    }
    // Every code point survives, a leading byte-order mark included.
    FUZZ_CHECK(reference::codePoints(*decoded) == *expected);
    FUZZ_CHECK(decoded->toUtf8() == bytes);
    FUZZ_CHECK(text::decodeUtf8OrEmpty(bytes) == *decoded);
    return 0;
}
