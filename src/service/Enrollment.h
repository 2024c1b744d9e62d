// Enrollment: pairs this machine with a hub by fetching the hub's installer
// ("agent/install.sh" under the hub address) and running it with /bin/bash.
//
// `Enrollment::start` is what ServiceManager::installAndEnroll does. Call it
// on the main thread. An unusable hub address completes with status 64, and a
// pair code holding a NUL with status 1, before the call returns and without
// progress; otherwise "downloading" is reported at once; the download and the
// installer run are followed by the main thread's event loop (the installer
// through `runner`). The second progress text and the result arrive on the
// main thread, each at most once and the result last; once `runner` is
// destroyed nothing more is delivered (an installer still running is left
// alone and its file goes).
//
// Only a body whose end is known is run: one Content-Length and exactly that
// many bytes, a chunked body Qt completed, or an HTTP/2 stream that ended
// normally, never compressed (the request asks for the bytes as they are).
// Every refused download carries the URL and the reason in `detail`, in
// English, with control characters replaced.
//
// The installer file lives in $TMPDIR (or /tmp) as "korvan-enroll-<UUID>.sh",
// is never readable or writable by anyone but the owner, ends with mode 0700,
// and is removed on every path.
#pragma once

#include "core/CommandResult.h"

#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class ProcessRunner;

namespace Enrollment {

// The hub text as the installer sees it in KORVAN_HUB_URL: Unicode-trimmed,
// then with runs of "/" trimmed from both ends.
QString hubText(const QString& hubURL);

// The URL the installer is fetched from, or nothing when the hub text does
// not parse strictly or its scheme is not http or https (any letter case).
std::optional<QUrl> installerURL(const QString& hubText);

// The one folder for files of our own that nobody keeps: $TMPDIR, else /tmp,
// in the file system's bytes. The installer file is written there.
QByteArray temporaryDirectory();

void start(ProcessRunner& runner, const QString& hubURL, const QString& pairCode,
           std::chrono::milliseconds transferTimeout, std::function<void(const QString&)> progress,
           std::function<void(const CommandResult&)> completion,
           std::function<void(int stream, QByteArrayView bytes)> forward = {});

} // namespace Enrollment
