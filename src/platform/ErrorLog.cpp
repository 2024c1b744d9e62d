#include "ErrorLog.h"

#include "core/UniqueFd.h"

#include <QByteArray>
#include <QStringBuilder>
#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>

namespace {

constexpr qsizetype kMaxTextBytes = 64 * 1024;

QByteArray record(QStringView text) {
    QByteArray utf8 = text.toUtf8();
    if (utf8.size() > kMaxTextBytes) {
        qsizetype end = kMaxTextBytes;
        while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
            --end;
        utf8.truncate(end);
    }
    return "korvan-controller: " + utf8 + '\n';
}

ssize_t writeOnce(int fd, const QByteArray& bytes) {
    ssize_t n;
    do
        n = ::write(fd, bytes.constData(), size_t(bytes.size()));
    while (n < 0 && errno == EINTR);
    return n;
}

} // namespace

namespace ErrorLog {

void write(QStringView text, int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return;
    const QByteArray bytes = record(text);
    if (S_ISSOCK(st.st_mode)) {
        // The journal's stream: one try, never waiting for room.
        ssize_t n;
        do
            n = ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
        while (n < 0 && errno == EINTR);
        return;
    }
    if (S_ISREG(st.st_mode)) {
        writeOnce(fd, bytes);
        return;
    }
    // A pipe, FIFO or terminal. Setting O_NONBLOCK on the descriptor we were
    // given would change it for every process that shares it (the shell that
    // started us included), so open a description of our own; with no reader
    // left, the open itself fails.
    const QByteArray path = "/proc/self/fd/" + QByteArray::number(fd);
    const UniqueFd own(::open(path.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (own.isValid())
        writeOnce(own.get(), bytes);
}

} // namespace ErrorLog
