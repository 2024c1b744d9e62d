#include "AtomicFile.h"

#include "core/SystemError.h"
#include "core/UniqueFd.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace AtomicFile {

namespace {

QString failure(const QString& what, const QString& path, int error) {
    return what + u' ' + path + QStringLiteral(": ") + systemErrorText(error);
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
    const UniqueFd folder(
        ::open(QFile::encodeName(info.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isValid())
        return failure(QStringLiteral("cannot open the folder of"), path, errno);

    QByteArray temporary;
    UniqueFd file;
    for (int attempt = 0; attempt < 16 && !file.isValid(); ++attempt) {
        temporary = temporaryName(name);
        file.reset(::openat(folder.get(), temporary.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (!file.isValid() && errno != EEXIST)
            break;
    }
    if (!file.isValid())
        return failure(QStringLiteral("cannot create a file beside"), path, errno);

    // From here on, a failure leaves nothing of ours behind.
    const auto undo = [&](const QString& what) {
        const int error = errno;
        ::unlinkat(folder.get(), temporary.constData(), 0);
        return failure(what, path, error);
    };
    if (!writeAll(file.get(), bytes))
        return undo(QStringLiteral("cannot write"));
    if (::fsync(file.get()) != 0)
        return undo(QStringLiteral("cannot write"));
    // Some file systems report a failed write only when the file is closed.
    if (::close(file.release()) != 0)
        return undo(QStringLiteral("cannot write"));
    if (::renameat(folder.get(), temporary.constData(), folder.get(), name.constData()) != 0)
        return undo(QStringLiteral("cannot replace"));
    if (::fsync(folder.get()) != 0)
        return failure(QStringLiteral("cannot save the folder of"), path, errno);
    return std::nullopt;
}

} // namespace AtomicFile
