#include "AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace AtomicFile {

namespace {

// Closes on every path out; close() itself is checked where it matters.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
    int release() { return std::exchange(fd, -1); }
};

QString failure(const QString& what, const QString& path, int error) {
    return what + u' ' + path + QStringLiteral(": ") + qt_error_string(error);
}

QByteArray temporaryName(const QByteArray& name) {
    static constexpr char kAlphabet[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray suffix(8, '\0');
    for (char& c : suffix)
        c = kAlphabet[QRandomGenerator::system()->bounded(int(sizeof kAlphabet - 1))];
    return '.' + name + '.' + suffix;
}

bool writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        done += n;
    }
    return true;
}

} // namespace

std::optional<QString> write(const QString& path, const QByteArray& bytes) {
    const QFileInfo info(path);
    const QByteArray name = QFile::encodeName(info.fileName());
    if (name.isEmpty() || name == "." || name == "..")
        return failure(QStringLiteral("cannot write"), path, EISDIR);
    Descriptor folder{
        ::open(QFile::encodeName(info.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (folder.fd < 0)
        return failure(QStringLiteral("cannot open the folder of"), path, errno);

    QByteArray temporary;
    Descriptor file;
    for (int attempt = 0; attempt < 16 && file.fd < 0; ++attempt) {
        temporary = temporaryName(name);
        file.fd = ::openat(folder.fd, temporary.constData(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (file.fd < 0 && errno != EEXIST)
            break;
    }
    if (file.fd < 0)
        return failure(QStringLiteral("cannot create a file beside"), path, errno);

    // From here on, a failure leaves nothing of ours behind.
    const auto undo = [&](const QString& what) {
        const int error = errno;
        ::unlinkat(folder.fd, temporary.constData(), 0);
        return failure(what, path, error);
    };
    if (!writeAll(file.fd, bytes))
        return undo(QStringLiteral("cannot write"));
    if (::fsync(file.fd) != 0)
        return undo(QStringLiteral("cannot write"));
    if (::close(file.release()) != 0)
        return undo(QStringLiteral("cannot write"));
    if (::renameat(folder.fd, temporary.constData(), folder.fd, name.constData()) != 0)
        return undo(QStringLiteral("cannot replace"));
    if (::fsync(folder.fd) != 0)
        return failure(QStringLiteral("cannot save the folder of"), path, errno);
    return std::nullopt;
}

} // namespace AtomicFile
