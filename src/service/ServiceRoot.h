// ServiceRoot: where the service installation lives, and the only place that
// knows how to find it, its control script and its pairing file. The tray
// program's ServiceManager and korvanctl's doctor both ask here, so they can
// never disagree about which script runs or whether the machine is paired.
//
// Paths are the file system's own bytes, exactly as the environment or the
// password database gave them: a folder whose name is not UTF-8 is still the
// same folder at every system call. `display` turns one into text for people.
//
// A plain value taken from the environment at the moment `locate` is called;
// any thread may use it. Nothing here writes to the root.
#pragma once

#include "PairingFile.h"

#include <QByteArray>
#include <QString>

class ServiceRoot {
public:
    // The environment variable that overrides the root.
    static constexpr char variable[] = "KORVAN_APP_SUPPORT_DIR";
    // The root when the variable is unset or blank, relative to the home folder.
    static constexpr char16_t defaultRelativePath[] =
        u"Library/Application Support/Korvan/Korvan-VPS-Hub";
    static constexpr char16_t controlScriptRelativePath[] = u"scripts/korvan-service-control.sh";
    static constexpr char16_t pairingFileName[] = u".env";

    // The current user's home folder: $HOME, else the password database's.
    static QByteArray homeDirectory();

    // The root as $KORVAN_APP_SUPPORT_DIR names it now: trimmed, a leading
    // "~" or "~user" expanded ("~" against `home`), relative paths taken from
    // the current folder; the default under `home` when the variable is
    // unset or blank. Whether the folder exists is not checked.
    static ServiceRoot locate(const QByteArray& home);

    // Absolute, without a trailing slash.
    const QByteArray& path() const { return path_; }
    // False when the default was taken.
    bool isFromEnvironment() const { return fromEnvironment_; }
    QByteArray controlScriptPath() const;
    QByteArray pairingFilePath() const;

    // A path as text, for people only: bytes that are not UTF-8 show as U+FFFD.
    static QString display(const QByteArray& path);

    // What stands at the control script's path. Only `executable` may be run.
    enum class Script { executable, missing, notRegularFile, notExecutable };
    static Script checkScript(const QByteArray& path);
    Script checkControlScript() const { return checkScript(controlScriptPath()); }

    PairingFile::Reading readPairingFile() const { return PairingFile::read(pairingFilePath()); }
    bool isPaired() const { return readPairingFile().isPaired(); }

private:
    ServiceRoot(QByteArray path, bool fromEnvironment)
        : path_(std::move(path)), fromEnvironment_(fromEnvironment) {}

    QByteArray path_;
    bool fromEnvironment_ = false;
};
