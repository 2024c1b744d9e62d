#include "OpenMetrics.h"

#include "AwaitCompletion.h"
#include "core/UserAccount.h"
#include "platform/AtomicFile.h"
#include "service/ServiceControl.h"

#include <unistd.h>

namespace cli {

namespace {

constexpr int kWriteFailed = 74; // EX_IOERR

QString currentUserName() {
    const uid_t uid = ::getuid();
    const std::optional<UserAccount> account = UserAccount::byId(uid);
    return account ? QString::fromLocal8Bit(account->name) : QString::number(uid);
}

int failed(StandardStreams& streams, const QString& what) {
    streams.err(QStringLiteral("korvanctl: ") + what + u'\n');
    return kWriteFailed;
}

// A collector globbing "*.prom" never sees the hidden temporary name, and a
// link planted under the name in a shared folder is replaced, never followed.
int writeAtomically(StandardStreams& streams, const QString& path, const QByteArray& bytes) {
    if (const std::optional<QString> reason = AtomicFile::write(path, bytes))
        return failed(streams, *reason);
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
