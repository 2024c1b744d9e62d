#include "core/Utf8Check.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace utf8 {

namespace {

// One sequence after another. Runs of ASCII are taken eight bytes at a time,
// since reports and installer output are mostly ASCII.
// Its branches are the table of well-formed sequences, read top to bottom.
// NOLINTNEXTLINE(readability-function-cognitive-complexity)
bool scalarWellFormed(const unsigned char* p, const unsigned char* end) {
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

#if defined(__x86_64__)

// The lookup method of Keiser and Lemire ("Validating UTF-8 in less than one
// instruction per byte", 2021). Every error of a well-formedness table shows
// in a pair of neighbouring bytes, given the high nibble of the first, its low
// nibble and the high nibble of the second: each of those three picks, from a
// 16-entry table, the set of errors it allows, and a bit left in all three is
// an error. Third and fourth bytes are the one thing pairs cannot see: a byte
// two after a three- or four-byte lead, or three after a four-byte lead, must
// be a continuation, which the "two continuations in a row" bit must then
// match exactly.
constexpr char kTooShort = 1 << 0;     // lead, then no continuation
constexpr char kTooLong = 1 << 1;      // ASCII, then a continuation
constexpr char kOverlong3 = 1 << 2;    // E0, then 80..9F
constexpr char kTooLarge = 1 << 3;     // F4, then 90..BF; F5..FF, then 90..BF
constexpr char kSurrogate = 1 << 4;    // ED, then A0..BF
constexpr char kOverlong2 = 1 << 5;    // C0 or C1, then a continuation
constexpr char kTooLarge1000 = 1 << 6; // F5..FF, then 80..8F
constexpr char kOverlong4 = 1 << 6;    // F0, then 80..8F
constexpr char kTwoConts = char(1 << 7);
constexpr char kCarry = kTooShort | kTooLong | kTwoConts;

__attribute__((target("avx2"))) inline __m256i lookup(__m256i table, __m256i nibbles) {
    return _mm256_shuffle_epi8(table, nibbles);
}

__attribute__((target("avx2"))) inline __m256i highNibbles(__m256i v) {
    return _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0F));
}

// The bytes of `input` moved `n` places later, the last `n` of `previous`
// in front.
template <int n>
__attribute__((target("avx2"))) inline __m256i shifted(__m256i input, __m256i previous) {
    return _mm256_alignr_epi8(input, _mm256_permute2x128_si256(previous, input, 0x21), 16 - n);
}

// A lead among the last three bytes of a block whose sequence cannot end
// inside it: its continuations are checked with the next block.
constexpr std::array<unsigned char, 32> kLastLeads = [] {
    std::array<unsigned char, 32> bytes{};
    bytes.fill(0xFF);
    bytes[29] = 0xF0 - 1;
    bytes[30] = 0xE0 - 1;
    bytes[31] = 0xC0 - 1;
    return bytes;
}();

#define KORVAN_TWICE(...) __VA_ARGS__, __VA_ARGS__

__attribute__((target("avx2"))) qsizetype vectorWellFormedPrefix(const unsigned char* data,
                                                                 qsizetype size, bool& ok) {
    const __m256i firstHigh = _mm256_setr_epi8(
        KORVAN_TWICE(kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong,
                     kTwoConts, kTwoConts, kTwoConts, kTwoConts, char(kTooShort | kOverlong2),
                     kTooShort, char(kTooShort | kOverlong3 | kSurrogate),
                     char(kTooShort | kTooLarge | kTooLarge1000 | kOverlong4)));
    constexpr char kLarge = char(kCarry | kTooLarge | kTooLarge1000);
    const __m256i firstLow = _mm256_setr_epi8(
        KORVAN_TWICE(char(kCarry | kOverlong3 | kOverlong2 | kOverlong4), char(kCarry | kOverlong2),
                     kCarry, kCarry, char(kCarry | kTooLarge), kLarge, kLarge, kLarge, kLarge,
                     kLarge, kLarge, kLarge, kLarge, char(kLarge | kSurrogate), kLarge, kLarge));
    const __m256i secondHigh = _mm256_setr_epi8(KORVAN_TWICE(
        kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
        char(kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4),
        char(kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge),
        char(kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge),
        char(kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge), kTooShort, kTooShort,
        kTooShort, kTooShort));
    const __m256i lastLeads =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kLastLeads.data()));
    const __m256i thirdLead = _mm256_set1_epi8(char(0xE0 - 0x80));
    const __m256i fourthLead = _mm256_set1_epi8(char(0xF0 - 0x80));
    const __m256i topBit = _mm256_set1_epi8(kTwoConts);

    __m256i error = _mm256_setzero_si256();
    __m256i previous = _mm256_setzero_si256();
    __m256i previousIncomplete = _mm256_setzero_si256();
    qsizetype at = 0;
    for (; at + 32 <= size; at += 32) {
        const __m256i input = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at));
        if (_mm256_movemask_epi8(input) == 0) {
            // ASCII: only a sequence cut at the end of the block before is wrong.
            error = _mm256_or_si256(error, previousIncomplete);
            previousIncomplete = _mm256_setzero_si256();
        } else {
            const __m256i prev1 = shifted<1>(input, previous);
            const __m256i flagged = _mm256_and_si256(
                _mm256_and_si256(lookup(firstHigh, highNibbles(prev1)),
                                 lookup(firstLow, _mm256_and_si256(prev1, _mm256_set1_epi8(0x0F)))),
                lookup(secondHigh, highNibbles(input)));
            const __m256i third = _mm256_subs_epu8(shifted<2>(input, previous), thirdLead);
            const __m256i fourth = _mm256_subs_epu8(shifted<3>(input, previous), fourthLead);
            const __m256i must = _mm256_and_si256(_mm256_or_si256(third, fourth), topBit);
            error = _mm256_or_si256(error, _mm256_xor_si256(must, flagged));
            previousIncomplete = _mm256_subs_epu8(input, lastLeads);
        }
        previous = input;
    }
    ok = _mm256_testz_si256(error, error);
    return at;
}

#undef KORVAN_TWICE

bool hasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

#endif

} // namespace

bool isWellFormed(QByteArrayView bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    qsizetype from = 0;
#if defined(__x86_64__)
    if (bytes.size() >= 64 && hasAvx2()) {
        bool ok = true;
        const qsizetype checked = vectorWellFormedPrefix(data, bytes.size(), ok);
        if (!ok)
            return false;
        // A sequence cut at the end of the last block is checked whole below.
        from = completePrefix(bytes.first(checked));
    }
#endif
    return scalarWellFormed(data + from, data + bytes.size());
}

qsizetype completePrefix(QByteArrayView bytes) {
    const qsizetype size = bytes.size();
    for (qsizetype back = 1; back <= std::min<qsizetype>(3, size); ++back) {
        const auto byte = static_cast<unsigned char>(bytes[size - back]);
        if (byte < 0x80)
            return size;
        if (byte >= 0xC0) {
            const qsizetype length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
            return back < length ? size - back : size;
        }
    }
    return size; // no lead near the end: the check judges what is there
}

} // namespace utf8
