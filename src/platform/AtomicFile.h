// AtomicFile: replaces a file's contents all at once, or not at all, without
// ever following a link planted under its name or in place of its temporary.
//
// write(path, bytes) opens the folder of `path` once and does everything
// relative to it: creates `.<name>.<random>` with O_CREAT|O_EXCL|O_NOFOLLOW
// and mode 0644 less the umask (readable by a collector running as another
// user; hidden, so a "*.prom" glob never matches it), writes all of `bytes`,
// fsyncs the file, renames it over `<name>` (a rename replaces a link itself,
// never its target) and fsyncs the folder. Every step is checked, and a
// failure is one line saying which step failed and the system's reason. Up to
// the rename, a failure removes the temporary file and leaves the old one as
// it was; a failed fsync of the folder comes after the new file is in place,
// and is reported all the same.
// In a sticky folder where another user owns the name, the rename fails with
// EPERM, and that is the reason given.
//
// Any thread; blocking file I/O. QtCore and POSIX only.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

namespace AtomicFile {

// std::nullopt once the new contents are in place and on disk.
std::optional<QString> write(const QString& path, const QByteArray& bytes);

// The shape of write(), for the places that take a writer a test can replace.
using Writer = std::function<std::optional<QString>(const QString& path, const QByteArray& bytes)>;

} // namespace AtomicFile
