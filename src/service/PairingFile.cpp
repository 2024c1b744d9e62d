#include "PairingFile.h"

#include "core/TextRules.h"
#include "core/UniqueFd.h"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace PairingFile {

namespace {

Keys keysIn(QStringView text) {
    Keys keys;
    for (QStringView line : text::splitLines(text)) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        if (line.sliced(eq + 1).trimmed().isEmpty())
            continue;
        const QStringView key = line.first(eq);
        keys.hostId = keys.hostId || key == QStringView(hostIdKey);
        keys.token = keys.token || key == QStringView(tokenKey);
    }
    return keys;
}

} // namespace

Reading read(const QByteArray& path) {
    using Kind = Reading::Kind;
    // Non-blocking, so that opening a FIFO nobody writes returns at once;
    // and never a controlling terminal, whatever the name leads to.
    const UniqueFd file(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.isValid())
        return {errno == ENOENT || errno == ENOTDIR ? Kind::missing : Kind::unreadable, {}};
    const int fd = file.get();
    // The descriptor closes on every return.
    const auto bare = [](Kind kind) { return Reading{kind, {}, false}; };
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return bare(Kind::unreadable);
    if (S_ISFIFO(st.st_mode))
        return bare(Kind::fifo);
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return bare(Kind::device);
    if (S_ISDIR(st.st_mode))
        return bare(Kind::directory);
    if (!S_ISREG(st.st_mode))
        return bare(Kind::special);
    if (st.st_size > maxBytes)
        return bare(Kind::tooLarge);
    // One byte more than allowed, so that a file growing under us is caught
    // rather than cut to a prefix.
    QByteArray bytes(maxBytes + 1, Qt::Uninitialized);
    qsizetype used = 0;
    while (used < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + used, size_t(bytes.size() - used));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return bare(Kind::unreadable);
        if (n == 0)
            break;
        used += n;
    }
    if (used > maxBytes)
        return bare(Kind::tooLarge);
    bytes.truncate(used);
    std::optional<QString> decoded = text::decodeUtf8(bytes);
    if (!decoded)
        return bare(Kind::notUtf8);
    Reading reading = bare(Kind::text);
    reading.keys = keysIn(*decoded);
    reading.crLfLineEnds = decoded->contains(QStringLiteral("\r\n"));
    return reading;
}

QString problem(Reading::Kind kind) {
    switch (kind) {
    case Reading::Kind::text:
        break;
    case Reading::Kind::missing:
        return QStringLiteral("not found");
    case Reading::Kind::unreadable:
        return QStringLiteral("cannot be read");
    case Reading::Kind::notUtf8:
        return QStringLiteral("is not UTF-8 text");
    case Reading::Kind::fifo:
        return QStringLiteral("is a FIFO, not a regular file");
    case Reading::Kind::device:
        return QStringLiteral("is a device, not a regular file");
    case Reading::Kind::directory:
        return QStringLiteral("is a directory, not a regular file");
    case Reading::Kind::special:
        return QStringLiteral("is not a regular file");
    case Reading::Kind::tooLarge:
        return QStringLiteral("is larger than 1 MiB");
    }
    return {};
}

} // namespace PairingFile
