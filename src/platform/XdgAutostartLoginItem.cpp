#include "XdgAutostartLoginItem.h"

#include "DesktopEntry.h"
#include "core/SystemError.h"
#include "core/UniqueFd.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kEntryName = QStringLiteral("korvan-controller.desktop");

QString configHome() {
    // The XDG rules ignore a relative value; so do we.
    QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return xdg;
    return QDir::homePath() + QStringLiteral("/.config");
}

QString autostartDir() {
    return configHome() + QStringLiteral("/autostart");
}

// Where the system-wide entry of the same name lives: the first of
// $XDG_CONFIG_DIRS (default /etc/xdg) that holds one; empty when none does.
QString systemEntryPath() {
    QString dirs = qEnvironmentVariable("XDG_CONFIG_DIRS");
    if (dirs.isEmpty())
        dirs = QStringLiteral("/etc/xdg");
    for (const QString& dir : dirs.split(u':', Qt::SkipEmptyParts)) {
        QString path = dir + QStringLiteral("/autostart/") + kEntryName;
        if (QDir::isAbsolutePath(dir) && QFileInfo::exists(path))
            return path;
    }
    return {};
}

// One entry as found on disk. `present` is false only when nothing is there;
// a file that cannot be read or parsed is present and has no fields.
struct Entry {
    bool present = false;
    std::optional<QHash<QString, QString>> fields;
};

// Never blocks on a FIFO or reads a device: a real entry is a small regular file.
Entry readEntry(const QString& path) {
    constexpr qint64 kMaxEntryBytes = 64 * 1024;
    const QByteArray native = QFile::encodeName(path);
    UniqueFd fd(::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.isValid())
        return {errno != ENOENT && errno != ENOTDIR, std::nullopt};
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxEntryBytes)
        return {true, std::nullopt};
    QFile file;
    if (!file.open(fd.get(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return {true, std::nullopt};
    fd.release(); // the file closes it now
    const QByteArray contents = file.read(kMaxEntryBytes + 1);
    if (contents.size() > kMaxEntryBytes)
        return {true, std::nullopt};
    return {true, DesktopEntry::parse(contents)};
}

bool isHidden(const QHash<QString, QString>& entry) {
    return entry.value(QStringLiteral("Hidden")).trimmed() == u"true";
}

bool isSwitchedOff(const QHash<QString, QString>& entry) {
    return isHidden(entry) ||
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

LoginItemStatus statusOf(const Entry& entry) {
    if (!entry.fields || isSwitchedOff(*entry.fields))
        return LoginItemStatus::notRegistered;
    const auto arguments = DesktopEntry::splitExec(entry.fields->value(QStringLiteral("Exec")));
    if (!arguments)
        return LoginItemStatus::notRegistered;
    return programExists(arguments->first()) ? LoginItemStatus::enabled : LoginItemStatus::notFound;
}

std::optional<QString> removeFile(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    if (::unlink(native.constData()) != 0 && errno != ENOENT)
        return systemErrorText(errno);
    return std::nullopt;
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
        return systemErrorText(errno);
    }
    struct stat st {};
    if (::stat(native.constData(), &st) != 0)
        return systemErrorText(errno);
    if (!S_ISDIR(st.st_mode))
        return systemErrorText(ENOTDIR);
    return std::nullopt;
}

} // namespace

XdgAutostartLoginItem::XdgAutostartLoginItem(QString executablePath, QString displayName,
                                             AtomicFile::Writer writer)
    : executablePath_(std::move(executablePath)), displayName_(std::move(displayName)),
      writer_(std::move(writer)) {}

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

QString XdgAutostartLoginItem::activeEntryPath() {
    if (readEntry(entryPath()).present)
        return entryPath();
    const QString system = systemEntryPath();
    return system.isEmpty() ? entryPath() : system;
}

LoginItemStatus XdgAutostartLoginItem::status() const {
    // The user's entry, whatever it holds, replaces the system-wide one.
    const Entry user = readEntry(entryPath());
    if (user.present)
        return statusOf(user);
    const QString system = systemEntryPath();
    return system.isEmpty() ? LoginItemStatus::notRegistered : statusOf(readEntry(system));
}

std::optional<QString> XdgAutostartLoginItem::registerItem() {
    const Entry user = readEntry(entryPath());
    const QString system = systemEntryPath();
    // Lifting our own hiding entry brings the system-wide one back, as it was.
    if (user.fields && isHidden(*user.fields) && !system.isEmpty() &&
        statusOf(readEntry(system)) == LoginItemStatus::enabled)
        return removeFile(entryPath());
    return writeEntry(false);
}

std::optional<QString> XdgAutostartLoginItem::unregisterItem() {
    // Deleting ours would let a system-wide entry start the program all the same.
    if (!systemEntryPath().isEmpty())
        return writeEntry(true);
    return removeFile(entryPath());
}

std::optional<QString> XdgAutostartLoginItem::writeEntry(bool hidden) const {
    if (auto failure = makeDirectories(autostartDir()))
        return failure;
    const QString contents = QStringLiteral("[Desktop Entry]\n"
                                            "Type=Application\n"
                                            "Name=") %
                             DesktopEntry::escapeValue(displayName_) % QStringLiteral("\nExec=") %
                             execValue(executablePath_) % QStringLiteral("\nTryExec=") %
                             DesktopEntry::escapeValue(executablePath_) %
                             QStringLiteral("\nIcon=korvan-controller\nTerminal=false\n") %
                             (hidden ? QStringLiteral("Hidden=true\n")
                                     : QStringLiteral("X-GNOME-Autostart-enabled=true\n"));
    return writer_(entryPath(), contents.toUtf8());
}
