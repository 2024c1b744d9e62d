#include "OpenMetrics.h"

#include "AwaitCompletion.h"
#include "service/ServiceControl.h"

#include <QFileInfo>
#include <QSaveFile>
#include <pwd.h>
#include <unistd.h>

namespace cli {

namespace {

constexpr int kWriteFailed = 74; // EX_IOERR

QString currentUserName() {
    const uid_t uid = ::getuid();
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_name &&
        *found->pw_name)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

int failed(StandardStreams& streams, const QString& what) {
    streams.err(QStringLiteral("korvanctl: ") + what + u'\n');
    return kWriteFailed;
}

// QSaveFile writes the data into an unnamed file in the target's folder and
// gives it a name only when complete: the target's own when it is new, or the
// target's name plus a dot and six random characters, renamed over the
// target. Without unnamed files it writes under that temporary name. So a
// collector globbing "*.prom" never reads a half-written file and never sees
// the temporary name, unless the file name holds six X in a row: Qt takes
// those as the placeholder of its template, and the temporary name would end
// in ".prom" too. QSaveFile also follows a symbolic link to its target, which
// in a folder shared with other users could turn our write onto any file of
// ours. Both are refused.
int writeAtomically(StandardStreams& streams, const QString& path, const QByteArray& bytes) {
    const QFileInfo info(path);
    if (info.isSymLink())
        return failed(streams,
                      QStringLiteral("refusing to write through the symbolic link ") + path);
    if (info.fileName().contains(u"XXXXXX"))
        return failed(streams, QStringLiteral("refusing a file name with six X in a row: ") + path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return failed(streams, QStringLiteral("cannot write ") + path + u": " + file.errorString());
    return 0;
}

} // namespace

int openMetricsStatus(Invocation& call, const QString& outputPath) {
    ServiceControl& manager = call.manager;
    const bool paired = manager.hasPairing(); // unpaired: no run, as in the tray
    CommandResult result;
    if (paired)
        result = awaitCompletion<CommandResult>(
            [&](auto done) { manager.run(QStringLiteral("status"), std::move(done)); });
    const StatusMetrics metrics{ServiceSnapshot::parse(result.output), paired, result.status,
                                currentUserName()};
    const QString text = openMetricsText(metrics);
    if (outputPath.isEmpty()) {
        call.streams.out(text); // a failed write turns the exit status into 74
        return 0;
    }
    return writeAtomically(call.streams, outputPath, text.toUtf8());
}

} // namespace cli
