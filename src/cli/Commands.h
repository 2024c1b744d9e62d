// The subcommands of korvanctl and what each is handed. Each runs on the main
// thread inside a running QCoreApplication, writes only through `streams`
// and returns the process exit status. CommandTable.cpp lists them with
// their options and help; nothing here knows about the others.
#pragma once

#include "StandardStreams.h"

#include <QHash>
#include <QString>
#include <optional>

class ServiceManager;

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

struct Invocation {
    QString command; // the word that chose the row
    ServiceManager& manager;
    StandardStreams& streams;
    const Options& options;
};

// The menu's lines, --json, or --openmetrics [--output FILE] (OpenMetrics.h).
int statusCommand(Invocation& call);
// start, stop and restart: one run of the control script with that word.
int serviceCommand(Invocation& call);
int pairCommand(Invocation& call);
// 0 when the control script, the pairing and a tray host are all in place.
int doctorCommand(Invocation& call);

// A CommandResult status as a process exit status: 0..255 as is, else 255.
inline int exitStatusFor(qint32 status) {
    return status >= 0 && status <= 255 ? status : 255;
}

} // namespace cli
