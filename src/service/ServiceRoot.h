// ServiceRoot: where the service installation lives, and the only place that
// knows how to find it, its control script and its pairing file. The tray
// program's ServiceManager and korvanctl's doctor both ask here, so they can
// never disagree about which script runs or whether the machine is paired.
//
// A plain value taken from the environment at the moment `locate` is called;
// any thread may use it. Nothing here writes to the root.
#pragma once

#include "PairingFile.h"

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

    // The root as $KORVAN_APP_SUPPORT_DIR names it now: trimmed, a leading
    // "~" or "~user" expanded ("~" against `home`), relative paths taken from
    // the current folder; the default under `home` when the variable is
    // unset or blank. Whether the folder exists is not checked.
    static ServiceRoot locate(const QString& home);

    // Absolute, without a trailing slash.
    const QString& path() const { return path_; }
    // False when the default was taken.
    bool isFromEnvironment() const { return fromEnvironment_; }
    QString controlScriptPath() const;
    QString pairingFilePath() const;

    // What stands at the control script's path. Only `executable` may be run.
    enum class Script { executable, missing, notRegularFile, notExecutable };
    static Script checkScript(const QString& path);
    Script checkControlScript() const { return checkScript(controlScriptPath()); }

    PairingFile::Reading readPairingFile() const { return PairingFile::read(pairingFilePath()); }
    bool isPaired() const { return readPairingFile().isPaired(); }

private:
    ServiceRoot(QString path, bool fromEnvironment)
        : path_(std::move(path)), fromEnvironment_(fromEnvironment) {}

    QString path_;
    bool fromEnvironment_ = false;
};
