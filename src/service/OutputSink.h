// OutputSink: collects one output stream of a child, read by read(2) from a
// non-blocking pipe, kept whole as bytes and, when decoding, checked as strict
// UTF-8 piece by piece as it arrives.
//
// The buffer grows by doubling and is cut to length once at the end;
// resizing on every read costs more than the reads. Each read is checked
// while it is still in the cache, up to the last sequence it completes; a
// sequence cut by a read waits for the next one. The text is those same
// bytes, so a large stream is never held twice and never converted in one
// piece on the event loop. A plain value owned by one run; one thread.
#pragma once

#include "core/Utf8Text.h"

#include <QByteArray>
#include <functional>

class OutputSink {
public:
    bool decode = false;
    qsizetype total = 0; // every byte read, for an output limit
    // Handed each piece as it is read, before anything else is done with it.
    std::function<void(QByteArrayView)> onRead;

    // One read: the byte count, 0 at end-of-file, -1 when nothing is there
    // now, -2 on an error other than EAGAIN and EINTR. An error is the end of
    // the stream, and a stream that could not be read to its end is lost
    // whole: both takes below give nothing, as for a text that is not UTF-8.
    qsizetype readFrom(int fd);
    QByteArray takeBytes();
    // The text, or the empty text when any sequence was invalid (a sequence
    // still cut at the end counts).
    Utf8Text takeText();

private:
    bool failed_ = false;
    Utf8Text::Builder bytes_;
    qsizetype populated_ = 0; // bytes from the start known to be backed by memory
};
