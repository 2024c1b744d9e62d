#include "ServiceManager.h"

#include "Enrollment.h"
#include "PairingFile.h"
#include "ProcessRunner.h"
#include "ServiceTexts.h"
#include "core/TextRules.h"

#include <QDir>
#include <QFileInfo>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kRootOverride = QStringLiteral("KORVAN_APP_SUPPORT_DIR");
const QString kDefaultRoot = QStringLiteral("Library/Application Support/Korvan/Korvan-VPS-Hub");
const QString kScript = QStringLiteral("scripts/korvan-service-control.sh");
const QString kPairingFile = QStringLiteral(".env");

// "~" and "~/x" take `home`; "~name" and "~name/x" take that user's home.
// An unknown user leaves the text as it is.
QString expandTilde(const QString& path, const QString& home) {
    if (!path.startsWith(u'~'))
        return path;
    qsizetype slash = path.indexOf(u'/');
    if (slash < 0)
        slash = path.size();
    const QString user = path.sliced(1, slash - 1);
    QString userHome = home;
    if (!user.isEmpty()) {
        const QByteArray name = user.toLocal8Bit();
        passwd entry{};
        passwd* found = nullptr;
        char buffer[4096];
        if (::getpwnam_r(name.constData(), &entry, buffer, sizeof buffer, &found) != 0 || !found)
            return path;
        userHome = QString::fromLocal8Bit(found->pw_dir);
    }
    return userHome + path.sliced(slash);
}

QString withoutTrailingSlashes(QString path) {
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path;
}

QString joined(const QString& dir, const QString& component) {
    if (dir.endsWith(u'/'))
        return dir + component;
    return dir + u'/' + component;
}

bool isExecutableFile(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    return ::stat(native.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(native.constData(), X_OK) == 0;
}

// A status report past this size can only be a fault; it ends like a hung one.
constexpr qsizetype kStatusOutputLimit = 16 * 1024 * 1024;

CommandResult commandResult(const ProcessOutcome& outcome) {
    switch (outcome.kind) {
    case ProcessOutcome::Kind::launchFailed:
        return {QString(), systemErrorText(outcome.launchError), 126};
    case ProcessOutcome::Kind::timedOut:
    case ProcessOutcome::Kind::outputLimited:
        return {QString(), ServiceTexts::statusTimedOut, outcome.status};
    case ProcessOutcome::Kind::exited:
    case ProcessOutcome::Kind::signalled:
        break;
    }
    return {outcome.outputText, outcome.errorText, outcome.status};
}

} // namespace

ServiceManager::ServiceManager() : ServiceManager(QDir::homePath()) {}

ServiceManager::ServiceManager(QString home, std::chrono::milliseconds downloadTimeout)
    : home_(std::move(home)), downloadTimeout_(downloadTimeout),
      runner_(std::make_unique<ProcessRunner>()) {}

ServiceManager::~ServiceManager() = default;

QString ServiceManager::serviceRootPath() const {
    const QString override = text::trimmed(qEnvironmentVariable(qPrintable(kRootOverride)));
    if (!override.isEmpty())
        return withoutTrailingSlashes(
            QDir::current().absoluteFilePath(expandTilde(override, home_)));
    return withoutTrailingSlashes(joined(home_, kDefaultRoot));
}

QUrl ServiceManager::serviceRootURL() const {
    return QUrl::fromLocalFile(joined(serviceRootPath(), QString()));
}

QString ServiceManager::controlScriptPath() const {
    return joined(serviceRootPath(), kScript);
}

QString ServiceManager::pairingFilePath() const {
    return joined(serviceRootPath(), kPairingFile);
}

bool ServiceManager::hasPairing() const {
    return PairingFile::isPairedAt(pairingFilePath());
}

void ServiceManager::run(const QString& command,
                         std::function<void(const CommandResult&)> completion) {
    const QString script = controlScriptPath();
    if (!isExecutableFile(script)) {
        // Never inside run(): callers finish their own bookkeeping first.
        QMetaObject::invokeMethod(
            runner_.get(),
            [completion = std::move(completion)] {
                completion({QString(), ServiceTexts::scriptMissing, 127});
            },
            Qt::QueuedConnection);
        return;
    }
    ProcessSpec job;
    job.program = "/bin/bash";
    job.arguments = {QFile::encodeName(script).toStdString(), command.toStdString()};
    job.environment = currentEnvironment();
    job.decodeText = true;
    if (command == u"status") {
        job.timeLimit = statusTimeLimit_;
        job.exitGrace = statusExitGrace_;
        job.outputLimit = kStatusOutputLimit;
    }
    runner_->start(std::move(job), [completion = std::move(completion)](ProcessOutcome outcome) {
        completion(commandResult(outcome));
    });
}

void ServiceManager::status(std::function<void(const ServiceSnapshot&)> completion) {
    run(QStringLiteral("status"), [completion = std::move(completion)](const CommandResult& r) {
        completion(ServiceSnapshot::parse(r.output));
    });
}

void ServiceManager::installAndEnroll(const QString& hubURL, const QString& pairCode,
                                      std::function<void(const QString&)> progress,
                                      std::function<void(const CommandResult&)> completion) {
    Enrollment::start(*runner_, hubURL, pairCode, downloadTimeout_, std::move(progress),
                      std::move(completion));
}
