// CommandTable: korvanctl's commands, their options, their help and their
// exit statuses, kept in one table so that the usage text, each command's
// help, the option parser (and the manual and completion written from it)
// read the same rows and cannot drift apart.
//
// Main thread only.
#pragma once

#include "Commands.h"

namespace cli {

// Usage errors and the status they give.
constexpr int kUsageError = 2;

// The usage text, in English, from the table.
QString usageText();

// Runs the command that `call.arguments` names, with its options parsed from
// the table. A usage error prints one line naming it and a pointer to the
// help on standard error and gives 2, before any command runs.
int runCommandLine(Invocation& call);

// The one-line form of a usage error, for commands that find one late.
int usageError(Invocation& call, const QString& mistake);

} // namespace cli
