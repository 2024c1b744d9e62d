// CommandTable: korvanctl's commands, their options and their one-line help,
// kept in one table so that the usage text and the option parser read the
// same rows and cannot drift apart.
//
// Main thread only.
#pragma once

#include "Commands.h"

#include <QStringList>

namespace cli {

// The usage text, in English, from the table.
QString usageText();

// Runs the command that `args` (without the program name) names, with its
// options parsed from the table. Anything the table does not allow prints
// the usage on standard error and gives 2, before any command runs.
int runCommandLine(QStringList args, StandardStreams& streams);

} // namespace cli
