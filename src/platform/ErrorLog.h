// ErrorLog: a copy of each error the tray program shows, on its standard
// error, for whoever started it (a terminal, the session's journal).
//
// Any thread. It never waits for a reader: a pipe or terminal that nobody
// drains gets what fits at once and the rest is dropped. The program ignores
// SIGPIPE, so a reader that has gone only fails the write.
#pragma once

#include <QStringView>
#include <unistd.h>

namespace ErrorLog {

// Writes "korvan-controller: ", at most the first 64 KiB of `text` as UTF-8
// (never a cut character) and a line feed, to `fd`.
void write(QStringView text, int fd = STDERR_FILENO);

} // namespace ErrorLog
