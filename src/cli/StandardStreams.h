// StandardStreams: korvanctl's standard output and standard error.
//
// Text goes out unbuffered with write(2), so a full disk, a closed pipe or a
// closed descriptor shows at the write that met it rather than being lost
// in a buffer at exit. A failed stream is not written again; `finish` closes
// both, and any failure turns the exit status into 74 (EX_IOERR) with one line
// on standard error saying what failed, when standard error still works.
//
// main() calls `prepareProcess` before QCoreApplication, on the main thread:
// it ignores SIGPIPE (a closed pipe then fails the write instead of killing
// the process; the runner gives children default dispositions) and puts
// /dev/null, opened read-only, on any of descriptors 0 to 2 that came closed,
// so nothing we open later lands there and takes our output, and a write to
// such a stream still fails. Tests hand in descriptors of their own.
#pragma once

#include <QString>

namespace cli {

class StandardStreams {
public:
    StandardStreams(int out = 1, int err = 2)
        : out_{out, "standard output"}, err_{err, "standard error"} {}
    static void prepareProcess();
    StandardStreams(const StandardStreams&) = delete;
    StandardStreams& operator=(const StandardStreams&) = delete;

    // Writes the text as UTF-8, unchanged.
    void out(const QString& text) { write(out_, text); }
    void err(const QString& text) { write(err_, text); }
    // Bytes as a child wrote them.
    void outBytes(QByteArrayView bytes) { write(out_, bytes); }
    void errBytes(QByteArrayView bytes) { write(err_, bytes); }
    // True once a write to either stream failed; later writes to it are dropped.
    bool failed() const { return out_.error != 0 || err_.error != 0; }

    // Closes both streams; `status` when every write and close worked, 74
    // otherwise.
    int finish(int status);

private:
    struct Stream {
        int fd;
        const char* name;
        int error = 0; // the errno of the first failure
    };
    static void write(Stream& stream, const QString& text);
    static void write(Stream& stream, QByteArrayView bytes);
    static void close(Stream& stream);

    Stream out_;
    Stream err_;
};

} // namespace cli
