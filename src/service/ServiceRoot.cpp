#include "ServiceRoot.h"

#include "core/TextRules.h"

#include <QDir>
#include <QFile>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// "~" and "~/x" take `home`; "~name" and "~name/x" take that user's home.
// An unknown user leaves the text as it is.
QString expandTilde(const QString& path, const QString& home) {
    if (!path.startsWith(u'~'))
        return path;
    qsizetype slash = path.indexOf(u'/');
    if (slash < 0)
        slash = path.size();
    const QString user = path.sliced(1, slash - 1);
    QString userHome = home;
    if (!user.isEmpty()) {
        const QByteArray name = user.toLocal8Bit();
        passwd entry{};
        passwd* found = nullptr;
        char buffer[4096];
        if (::getpwnam_r(name.constData(), &entry, buffer, sizeof buffer, &found) != 0 || !found)
            return path;
        userHome = QString::fromLocal8Bit(found->pw_dir);
    }
    return userHome + path.sliced(slash);
}

QString withoutTrailingSlashes(QString path) {
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path;
}

QString joined(const QString& dir, QStringView component) {
    return dir.endsWith(u'/') ? QString(dir + component) : QString(dir + u'/' + component);
}

} // namespace

ServiceRoot ServiceRoot::locate(const QString& home) {
    const QString override = text::trimmed(qEnvironmentVariable(variable));
    if (!override.isEmpty())
        return {
            withoutTrailingSlashes(QDir::current().absoluteFilePath(expandTilde(override, home))),
            true};
    return {withoutTrailingSlashes(joined(home, defaultRelativePath)), false};
}

QString ServiceRoot::controlScriptPath() const {
    return joined(path_, controlScriptRelativePath);
}

QString ServiceRoot::pairingFilePath() const {
    return joined(path_, pairingFileName);
}

ServiceRoot::Script ServiceRoot::checkScript(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0)
        return Script::missing;
    if (!S_ISREG(st.st_mode))
        return Script::notRegularFile;
    return ::access(native.constData(), X_OK) == 0 ? Script::executable : Script::notExecutable;
}
