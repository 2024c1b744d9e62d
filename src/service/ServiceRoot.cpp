#include "ServiceRoot.h"

#include "core/TextRules.h"
#include "core/UserAccount.h"

#include <QFile>
#include <climits>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The home folder recorded for `account`, when it names one.
std::optional<QByteArray> recordedHome(const std::optional<UserAccount>& account) {
    if (!account || account->home.isEmpty())
        return std::nullopt;
    return account->home;
}

// Unicode trimming of bytes that may not be UTF-8. White space is always a
// whole, valid sequence, so what the lossy decoding trims from either end is
// exactly the UTF-8 of those characters; the bytes between stay untouched.
QByteArray trimmedBytes(const QByteArray& bytes) {
    const QString decoded = QString::fromUtf8(bytes);
    const QString kept = text::trimmed(decoded);
    if (kept.isEmpty())
        return {};
    const qsizetype first = decoded.indexOf(kept);
    const qsizetype lead = decoded.first(first).toUtf8().size();
    const qsizetype trail = decoded.sliced(first + kept.size()).toUtf8().size();
    return bytes.sliced(lead, bytes.size() - lead - trail);
}

// "~" and "~/x" take `home`; "~name" and "~name/x" take that user's home.
// An unknown user leaves the path as it is.
QByteArray expandTilde(const QByteArray& path, const QByteArray& home) {
    if (!path.startsWith('~'))
        return path;
    qsizetype slash = path.indexOf('/');
    if (slash < 0)
        slash = path.size();
    const QByteArray user = path.sliced(1, slash - 1);
    const std::optional<QByteArray> userHome =
        user.isEmpty() ? home : recordedHome(UserAccount::byName(user));
    return userHome ? *userHome + path.sliced(slash) : path;
}

QByteArray currentDirectory() {
    char buffer[PATH_MAX];
    return ::getcwd(buffer, sizeof buffer) ? QByteArray(buffer) : QByteArray("/");
}

QByteArray withoutTrailingSlashes(QByteArray path) {
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

QByteArray joined(const QByteArray& dir, const QByteArray& component) {
    return (dir.endsWith('/') ? dir : dir + '/') + component;
}

} // namespace

QByteArray ServiceRoot::homeDirectory() {
    const QByteArray home = qgetenv("HOME");
    return home.isEmpty() ? recordedHome(UserAccount::byId(::geteuid())).value_or(QByteArray("/"))
                          : home;
}

ServiceRoot ServiceRoot::locate(const QByteArray& home) {
    // The bytes themselves: decoding here would turn a folder whose name is
    // not UTF-8 into another folder.
    QByteArray override = trimmedBytes(qgetenv(variable));
    if (!override.isEmpty()) {
        override = expandTilde(override, home);
        if (!override.startsWith('/'))
            override = joined(currentDirectory(), override);
        return {withoutTrailingSlashes(override), true};
    }
    return {withoutTrailingSlashes(joined(home, QStringView(defaultRelativePath).toUtf8())), false};
}

QByteArray ServiceRoot::controlScriptPath() const {
    return joined(path_, QStringView(controlScriptRelativePath).toUtf8());
}

QByteArray ServiceRoot::pairingFilePath() const {
    return joined(path_, QStringView(pairingFileName).toUtf8());
}

QString ServiceRoot::display(const QByteArray& path) {
    return QFile::decodeName(path);
}

ServiceRoot::Script ServiceRoot::checkScript(const QByteArray& path) {
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return Script::missing;
    if (!S_ISREG(st.st_mode))
        return Script::notRegularFile;
    return ::access(path.constData(), X_OK) == 0 ? Script::executable : Script::notExecutable;
}
