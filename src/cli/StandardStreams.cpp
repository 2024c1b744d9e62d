#include "StandardStreams.h"

#include "core/SystemError.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sysexits.h>
#include <unistd.h>

namespace cli {

void StandardStreams::prepareProcess() {
    std::signal(SIGPIPE, SIG_IGN);
    for (int fd = 0; fd <= 2; ++fd) {
        // open() takes the lowest free number, which is `fd` itself; opened
        // read-only, a write to it fails with EBADF as to a closed one.
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF)
            ::open("/dev/null", O_RDONLY);
    }
}

void StandardStreams::write(Stream& stream, const QString& text) {
    write(stream, QByteArrayView(text.toUtf8()));
}

void StandardStreams::write(Stream& stream, QByteArrayView bytes) {
    qsizetype done = 0;
    while (stream.error == 0 && done < bytes.size()) {
        const ssize_t n =
            ::write(stream.fd, bytes.data() + done, static_cast<size_t>(bytes.size() - done));
        if (n >= 0) {
            done += n;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // A descriptor handed to us non-blocking: wait as a blocking one would.
            pollfd ready{stream.fd, POLLOUT, 0};
            ::poll(&ready, 1, -1);
        } else if (errno != EINTR) {
            stream.error = errno;
        }
    }
}

void StandardStreams::close(Stream& stream) {
    // Linux releases the descriptor even when close() reports EINTR.
    if (::close(stream.fd) != 0 && errno != EINTR && stream.error == 0)
        stream.error = errno;
    // Hold the number, so that a file opened while the process winds down
    // cannot receive a late library warning meant for the terminal.
    ::open("/dev/null", O_WRONLY | O_CLOEXEC);
}

int StandardStreams::finish(int status) {
    close(out_);
    if (out_.error != 0)
        write(err_, QStringLiteral("korvanctl: cannot write to %1: %2\n")
                        .arg(QLatin1StringView(out_.name), systemErrorText(out_.error)));
    close(err_);
    return out_.error != 0 || err_.error != 0 ? EX_IOERR : status;
}

} // namespace cli
