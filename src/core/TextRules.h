// Text rules shared by every subsystem: Unicode trimming, the line splitter
// used for the status report and the pairing file, and strict UTF-8 decoding.
//
// Pure functions; any thread may call them.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>
#include <optional>

namespace text {

// Removes Unicode white space and line breaks from both ends: the Z*
// categories, U+0009..U+000D and U+0085 (so U+3000 and U+2028 go too).
QString trimmed(QStringView s);

// Cuts at line feeds and drops empty lines. A line feed right after a carriage
// return is part of one "\r\n" character and does not end the line.
QList<QStringView> splitLines(QStringView s);

// Decodes bytes as UTF-8; std::nullopt when any byte sequence is invalid.
// An initial byte-order mark is kept as a character.
std::optional<QString> decodeUtf8(const QByteArray& bytes);

// The same decoding with a choice for an initial byte-order mark: script
// output and the pairing file keep it as a character (a key after it is then
// no key), a desktop entry or a link value drops it.
enum class Bom { keep, skip };
std::optional<QString> decodeUtf8(const QByteArray& bytes, Bom bom);

// Decodes bytes already known to be well-formed UTF-8 (a piece of a Utf8Text
// cut at ASCII characters). Unlike QString::fromUtf8, an initial byte-order
// mark is kept as a character.
QString fromWellFormedUtf8(QByteArrayView bytes);

// decodeUtf8, with invalid input giving the empty text.
QString decodeUtf8OrEmpty(const QByteArray& bytes);

// What an alert can show of a script's text without the layout of a megabyte
// stalling the program. At most 20 lines: the first 10, a line "…", the last
// 10. A line ends at LF, CR, CR LF, VT, FF, NEL, U+2028 or U+2029 (anything a
// text layout may break at); the breaks kept are the text's own. Then at
// most 2,000 grapheme clusters: the first 1,000, "…", the last 1,000, never
// cut inside a cluster. Each kept end also stays within 16,384 UTF-16 units,
// so that one cluster of a million combining marks is left out whole rather
// than shown. Text within the limits comes back unchanged.
QString alertExcerpt(const QString& s);

} // namespace text
