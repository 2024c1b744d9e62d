#include "ServiceManager.h"

#include "Enrollment.h"
#include "ProcessRunner.h"
#include "ServiceRoot.h"
#include "ServiceTexts.h"
#include "core/SystemError.h"
#include "core/TextRules.h"

namespace {

// The root owns the rule; the runner only asks before each run.
bool isExecutableFile(const QByteArray& path) {
    return ServiceRoot::checkScript(path) == ServiceRoot::Script::executable;
}

// A status report past this size can only be a fault; it ends like a hung one.
constexpr qsizetype kStatusOutputLimit = 16 * 1024 * 1024;

CommandResult commandResult(const ProcessOutcome& outcome) {
    switch (outcome.kind) {
    case ProcessOutcome::Kind::launchFailed:
        return {Utf8Text(), systemErrorText(outcome.launchError), 126};
    case ProcessOutcome::Kind::timedOut:
    case ProcessOutcome::Kind::outputLimited:
        return {Utf8Text(), ServiceTexts::statusTimedOut, outcome.status};
    case ProcessOutcome::Kind::exited:
    case ProcessOutcome::Kind::signalled:
        break;
    }
    return {outcome.outputText, outcome.errorText, outcome.status};
}

} // namespace

ServiceManager::ServiceManager() : ServiceManager(ServiceRoot::homeDirectory()) {}

ServiceManager::ServiceManager(QByteArray home, std::chrono::milliseconds downloadTimeout,
                               ProcessRunner::ExitWatch exitWatch)
    : home_(std::move(home)), downloadTimeout_(downloadTimeout),
      runner_(std::make_unique<ProcessRunner>(exitWatch)) {}

ServiceManager::~ServiceManager() = default;

ServiceRoot ServiceManager::serviceRoot() const {
    return ServiceRoot::locate(home_);
}

QByteArray ServiceManager::serviceRootPath() const {
    return serviceRoot().path();
}

QUrl ServiceManager::serviceRootURL() const {
    // Percent-encoded bytes, so that even a name that is not UTF-8 leads to
    // the same folder; only what the URL shows is decoded.
    QByteArray root = serviceRootPath();
    if (!root.endsWith('/'))
        root += '/';
    return QUrl::fromEncoded("file://" + root.toPercentEncoding("/"));
}

bool ServiceManager::hasPairing() const {
    return serviceRoot().isPaired();
}

void ServiceManager::run(const QString& command,
                         std::function<void(const CommandResult&)> completion) {
    const QByteArray script = serviceRoot().controlScriptPath();
    if (!isExecutableFile(script)) {
        // Never inside run(): callers finish their own bookkeeping first.
        QMetaObject::invokeMethod(
            runner_.get(),
            [completion = std::move(completion)] {
                completion({Utf8Text(), ServiceTexts::scriptMissing, 127});
            },
            Qt::QueuedConnection);
        return;
    }
    ProcessJob job;
    job.program = "/bin/bash";
    job.arguments = {script.toStdString(), command.toStdString()};
    job.environment = currentEnvironment();
    job.decodeText = true;
    if (command == u"status") {
        job.timeLimit = statusTimeLimit_;
        job.exitGrace = statusExitGrace_;
        job.outputLimit = kStatusOutputLimit;
    } else {
        job.onOutput = forward_;
    }
    runner_->start(std::move(job),
                   [completion = std::move(completion)](const ProcessOutcome& outcome) {
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
                      std::move(completion), forward_);
}
