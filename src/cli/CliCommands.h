// The subcommands of korvanctl. Each runs on the main thread inside a running
// QCoreApplication and returns the process exit status.
#pragma once

#include <QStringList>

class ServiceManager;

namespace cli {

// Prints the usage; `toError` selects standard error.
void printUsage(bool toError);

int statusCommand(ServiceManager& manager, const QStringList& args);
int serviceCommand(ServiceManager& manager, const QString& word, const QStringList& args);
// korvanctl pair [--hub URL] [--code CODE] [--link LINK] [--verbose]
int pairCommand(ServiceManager& manager, const QStringList& args);
// korvanctl doctor: checks what a running controller needs, one line each;
// 0 when the control script, the pairing and a tray host are all in place.
int doctorCommand(ServiceManager& manager, const QStringList& args);

// Maps a CommandResult status onto a process exit status: 0..255 as is,
// anything else 255.
int exitStatusFor(qint32 status);

// Writes text to standard output or standard error as UTF-8, unchanged.
void writeOut(const QString& text);
void writeErr(const QString& text);

} // namespace cli
