// OutputSink: collects one output stream of a child, read by read(2) from a
// non-blocking pipe, either whole as bytes or, when decoding, as strict UTF-8
// text converted piece by piece as it arrives.
//
// The byte buffer grows by doubling and is cut to length once at the end;
// resizing a QByteArray on every read costs more than the reads. Decoding
// keeps no bytes but a sequence cut by a read, so a large stream never holds
// its bytes and its text at once, and converting it never stalls the event
// loop in one piece. A plain value owned by one run; one thread.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

class OutputSink {
public:
    bool decode = false;
    qsizetype total = 0; // every byte read, for an output limit
    // Handed each piece as it is read, before anything else is done with it.
    std::function<void(QByteArrayView)> onRead;

    // One read: the byte count, 0 at end-of-file, -1 when nothing is there
    // now, -2 on an error (taken as the end).
    qsizetype readFrom(int fd);
    QByteArray takeBytes();
    // The text, or the empty text when any sequence was invalid (a sequence
    // still cut at the end counts).
    QString takeText();

private:
    void convert(bool atEnd);

    QByteArray bytes_;
    qsizetype used_ = 0;
    qsizetype populated_ = 0; // bytes from the start known to be backed by memory
    QString text_;
    qsizetype textPopulated_ = 0; // the same for the text, in bytes
    bool valid_ = true;
};
