// Deliberately naive re-statements of the input rules, written from the rules
// themselves rather than from the production code, for the fuzz targets to
// compare against. Slow and obvious on purpose.
#pragma once

#include <QByteArray>
#include <QChar>
#include <QList>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

// A violated property ends the run where libFuzzer can see and save it.
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "property violated: %s (%s:%d)\n", #cond, __FILE__, __LINE__);    \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace reference {

// Lines of a report or pairing file: cut at each line feed that does not
// follow a carriage return, empty pieces dropped.
inline QList<QString> lines(const QString& text) {
    QList<QString> out;
    QString current;
    QChar previous;
    for (QChar c : text) {
        if (c == u'\n' && previous != u'\r') {
            if (!current.isEmpty())
                out.append(current);
            current.clear();
        } else {
            current.append(c);
        }
        previous = c;
    }
    if (!current.isEmpty())
        out.append(current);
    return out;
}

// White space and line breaks: the Z* categories, U+0009..U+000D and U+0085.
inline bool isBlankChar(QChar c) {
    const char16_t u = c.unicode();
    if ((u >= 0x09 && u <= 0x0D) || u == 0x85)
        return true;
    switch (c.category()) {
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

inline bool isBlank(const QString& s) {
    for (QChar c : s) {
        if (!isBlankChar(c))
            return false;
    }
    return true;
}

// Strict UTF-8 (RFC 3629): shortest form only, no surrogates, nothing past
// U+10FFFF. Returns the code points, or nothing for any invalid sequence.
inline std::optional<std::vector<char32_t>> decodeUtf8(const QByteArray& bytes) {
    std::vector<char32_t> out;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        int extra = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if (b < 0x80) {
            cp = b;
        } else if (b >= 0xC0 && b < 0xE0) {
            extra = 1;
            cp = b & 0x1F;
            min = 0x80;
        } else if (b >= 0xE0 && b < 0xF0) {
            extra = 2;
            cp = b & 0x0F;
            min = 0x800;
        } else if (b >= 0xF0 && b < 0xF8) {
            extra = 3;
            cp = b & 0x07;
            min = 0x10000;
        } else {
            return std::nullopt;
        }
        if (i + extra >= n) // the sequence runs past the end
            return std::nullopt;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char c = p[i + k];
            if ((c & 0xC0) != 0x80)
                return std::nullopt;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return std::nullopt;
        out.push_back(cp);
        i += 1 + extra;
    }
    return out;
}

inline std::vector<char32_t> codePoints(const QString& s) {
    std::vector<char32_t> out;
    for (char32_t cp : s.toUcs4())
        out.push_back(cp);
    return out;
}

} // namespace reference
