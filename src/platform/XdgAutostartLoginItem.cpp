#include "XdgAutostartLoginItem.h"

#include "DesktopEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kEntryName = QStringLiteral("korvan-controller.desktop");

QString configHome() {
    // The XDG rules ignore a relative value; so do we.
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return xdg;
    return QDir::homePath() + QStringLiteral("/.config");
}

QString autostartDir() {
    return configHome() + QStringLiteral("/autostart");
}

bool isSwitchedOff(const QHash<QString, QString>& entry) {
    return entry.value(QStringLiteral("Hidden")).trimmed() == u"true" ||
           entry.value(QStringLiteral("X-GNOME-Autostart-enabled")).trimmed() == u"false";
}

bool programExists(QString program) {
    // "%%" is how a literal percent sign survives the Exec field codes.
    program.replace(QStringLiteral("%%"), QStringLiteral("%"));
    if (!program.contains(u'/'))
        return !QStandardPaths::findExecutable(program).isEmpty();
    const QFileInfo info(program);
    return info.isAbsolute() && info.isFile() && info.isExecutable();
}

// mkdir -p that keeps the reason for a failure, which QDir::mkpath drops.
std::optional<QString> makeDirectories(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    for (qsizetype i = 1; i <= native.size(); ++i) {
        if (i < native.size() && native[i] != '/')
            continue;
        const QByteArray prefix = native.first(i);
        if (::mkdir(prefix.constData(), 0700) == 0 || errno == EEXIST)
            continue;
        return qt_error_string(errno);
    }
    struct stat st {};
    if (::stat(native.constData(), &st) != 0)
        return qt_error_string(errno);
    if (!S_ISDIR(st.st_mode))
        return qt_error_string(ENOTDIR);
    return std::nullopt;
}

} // namespace

XdgAutostartLoginItem::XdgAutostartLoginItem(QString executablePath, QString displayName)
    : executablePath_(std::move(executablePath)), displayName_(std::move(displayName)) {}

QString XdgAutostartLoginItem::entryPath() {
    return autostartDir() + u'/' + kEntryName;
}

QString XdgAutostartLoginItem::execValue(const QString& program) {
    QString quoted = QStringLiteral("\"");
    for (const QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted.append(u'\\');
        quoted.append(c);
        if (c == u'%')
            quoted.append(u'%');
    }
    quoted.append(u'"');
    return DesktopEntry::escapeValue(quoted);
}

LoginItemStatus XdgAutostartLoginItem::status() const {
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly))
        return LoginItemStatus::notRegistered;
    const auto entry = DesktopEntry::parse(file.readAll());
    if (!entry || isSwitchedOff(*entry))
        return LoginItemStatus::notRegistered;
    const auto arguments = DesktopEntry::splitExec(entry->value(QStringLiteral("Exec")));
    if (!arguments)
        return LoginItemStatus::notRegistered;
    return programExists(arguments->first()) ? LoginItemStatus::enabled : LoginItemStatus::notFound;
}

std::optional<QString> XdgAutostartLoginItem::registerItem() {
    if (auto failure = makeDirectories(autostartDir()))
        return failure;
    const QString contents = QStringLiteral("[Desktop Entry]\n"
                                            "Type=Application\n"
                                            "Name=") %
                             DesktopEntry::escapeValue(displayName_) % QStringLiteral("\nExec=") %
                             execValue(executablePath_) %
                             QStringLiteral("\nTerminal=false\n"
                                            "X-GNOME-Autostart-enabled=true\n");
    QSaveFile file(entryPath());
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    file.write(contents.toUtf8());
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

std::optional<QString> XdgAutostartLoginItem::unregisterItem() {
    const QByteArray native = QFile::encodeName(entryPath());
    if (::unlink(native.constData()) != 0 && errno != ENOENT)
        return qt_error_string(errno);
    return std::nullopt;
}
