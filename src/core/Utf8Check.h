// Utf8Check: strict UTF-8 validation, whole or a piece at a time.
//
// "Well-formed" is the Unicode standard's table of well-formed byte sequences:
// no overlong form, no surrogate, nothing past U+10FFFF, no cut sequence. On
// x86-64 processors with AVX2 the check runs 32 bytes at a time; elsewhere a
// scalar loop does the same work. Pure functions; any thread may call them.
#pragma once

#include <QByteArrayView>

namespace utf8 {

// True when every byte belongs to a complete, well-formed sequence.
bool isWellFormed(QByteArrayView bytes);

// How much of `bytes` ends on a sequence boundary: a lead byte among the last
// three whose continuation has not arrived yet is left out, so that bytes read
// in pieces can be checked up to there and the rest carried to the next piece.
qsizetype completePrefix(QByteArrayView bytes);

} // namespace utf8
