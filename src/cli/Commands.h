// The subcommands of korvanctl and what each is handed. Each runs on the main
// thread inside a running QCoreApplication, writes only through the
// invocation's streams and returns the process exit status. CommandTable.cpp
// lists them with their options, help and exit statuses; nothing here knows
// about the others.
#pragma once

#include "StandardStreams.h"
#include "core/CommandResult.h"
#include "service/ServiceRoot.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>

class ProcessRunner;
class ServiceControl;

namespace cli {

// The options given, by name ("--hub"); a flag maps to the empty text.
struct Options {
    QHash<QString, QString> given;
    bool has(const QString& name) const { return given.contains(name); }
    std::optional<QString> value(const QString& name) const {
        const auto it = given.constFind(name);
        return it == given.constEnd() ? std::nullopt : std::optional<QString>(*it);
    }
};

// One run of korvanctl: what the process gave it, and the services it acts on.
// main.cpp fills it from the process; tests fill it with fakes and a scratch
// home. The command table fills `command` and `options` before a command runs.
struct Invocation {
    QStringList arguments; // without the program's name
    StandardStreams& streams;
    ServiceControl& manager;
    ProcessRunner& runner; // doctor's helper programs
    QByteArray home;       // the default service root is under it
    QString program;       // korvanctl itself, run by doctor for its display probe
    int input = 0;         // read by `pair --code -` and `--link -`
    std::chrono::milliseconds toolTimeLimit = std::chrono::seconds(10);

    QString command = {}; // the word that chose the row
    Options options = {};

    ServiceRoot root() const { return ServiceRoot::locate(home); }
};

// The menu's lines, --json, or --openmetrics [--output FILE] (OpenMetrics.h).
int statusCommand(Invocation& call);
// start, stop and restart: one run of the control script with that word.
int serviceCommand(Invocation& call);
int pairCommand(Invocation& call);
// 0 when the control script, the pairing, the status run and a tray host
// (where there is a display) are all in place.
int doctorCommand(Invocation& call);
// doctor's XEmbed check, run by doctor as a child of its own so that a
// display that never answers cannot hang it: prints "yes", "no" or
// "unknown", a space and what it found.
int xembedProbeCommand(Invocation& call);

// A CommandResult status as a process exit status: 0..255 as is, else 255.
inline int exitStatusFor(qint32 status) {
    return status >= 0 && status <= 255 ? status : 255;
}

// Names what ended a failed control-script run, for a line on standard error.
QString failedRunText(const Invocation& call, const CommandResult& result);

} // namespace cli
