#include "ServiceManager.h"

#include "Enrollment.h"
#include "ProcessRunner.h"
#include "ServiceRoot.h"
#include "ServiceTexts.h"
#include "TextRules.h"
#include "platform/MainQueue.h"

#include <QDir>

namespace {

// The root owns the rule; the runner only asks before each run.
bool isExecutableFile(const QString& path) {
    return ServiceRoot::checkScript(path) == ServiceRoot::Script::executable;
}

CommandResult runControlScript(const QString& script, const QString& command,
                               std::vector<std::string> environment,
                               std::optional<std::chrono::milliseconds> timeLimit) {
    if (!isExecutableFile(script))
        return {QString(), ServiceTexts::scriptMissing, 127};
    ProcessSpec job;
    job.program = "/bin/bash";
    job.arguments = {QFile::encodeName(script).toStdString(), command.toStdString()};
    job.environment = std::move(environment);
    job.timeLimit = timeLimit;
    const ProcessOutcome outcome = runProcess(job);
    switch (outcome.kind) {
    case ProcessOutcome::Kind::launchFailed:
        return {QString(), systemErrorText(outcome.launchError), 126};
    case ProcessOutcome::Kind::timedOut:
        return {QString(), ServiceTexts::statusTimedOut, outcome.status};
    case ProcessOutcome::Kind::exited:
    case ProcessOutcome::Kind::signalled:
        break;
    }
    return {text::decodeUtf8OrEmpty(outcome.standardOutput),
            text::decodeUtf8OrEmpty(outcome.standardError), outcome.status};
}

} // namespace

ServiceManager::ServiceManager() : ServiceManager(QDir::homePath()) {}

ServiceManager::ServiceManager(QString home)
    : home_(std::move(home)), mainQueue_(MainQueue::create()) {}

ServiceManager::~ServiceManager() {
    mainQueue_->close();
}

ServiceRoot ServiceManager::serviceRoot() const {
    return ServiceRoot::locate(home_);
}

QString ServiceManager::serviceRootPath() const {
    return serviceRoot().path();
}

QUrl ServiceManager::serviceRootURL() const {
    const QString root = serviceRootPath();
    return QUrl::fromLocalFile(root.endsWith(u'/') ? root : root + u'/');
}

QString ServiceManager::controlScriptPath() const {
    return serviceRoot().controlScriptPath();
}

QString ServiceManager::pairingFilePath() const {
    return serviceRoot().pairingFilePath();
}

bool ServiceManager::hasPairing() const {
    return serviceRoot().isPaired();
}

void ServiceManager::run(const QString& command,
                         std::function<void(const CommandResult&)> completion) {
    std::optional<std::chrono::milliseconds> limit;
    if (command == u"status")
        limit = statusTimeLimit_;
    runInBackground([queue = mainQueue_, script = controlScriptPath(), command,
                     environment = currentEnvironment(), limit,
                     completion = std::move(completion)]() mutable {
        CommandResult result = runControlScript(script, command, std::move(environment), limit);
        queue->post([completion = std::move(completion), result = std::move(result)] {
            completion(result);
        });
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
    Enrollment::start(mainQueue_, hubURL, pairCode, std::move(progress), std::move(completion));
}
