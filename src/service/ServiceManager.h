// ServiceManager: the one service-control object of the application.
//
// Every action on the background services is one run of the installation's
// control script, "scripts/korvan-service-control.sh" under the service root.
// Call every operation on the main thread; completions always arrive on the
// main thread, exactly once (except the synchronous rejection of an unusable
// hub address, which completes before installAndEnroll returns). Runs are
// independent and followed by the main loop: a script that never exits holds
// nothing but its own pipes.
//
// Between calls the manager keeps only the home directory it took at
// construction and its settings (output forwarding, the status limits); the
// service root is located afresh for every call. Its runner owns the runs
// still going: destroying the manager abandons them (the scripts are left
// running) and drops every completion still pending.
#pragma once

#include "ProcessRunner.h"
#include "ServiceControl.h"
#include "ServiceRoot.h"

#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>

class ServiceManager final : public ServiceControl {
public:
    ServiceManager(); // home = the current user's home
    // For tests and tools. An installer download that receives nothing for
    // `downloadTimeout` ends with the timeout text; `exitWatch` is the runner's.
    explicit ServiceManager(QByteArray home,
                            std::chrono::milliseconds downloadTimeout = std::chrono::seconds(60),
                            ProcessRunner::ExitWatch exitWatch = ProcessRunner::ExitWatch::pidfd);
    ~ServiceManager() override;
    ServiceManager(const ServiceManager&) = delete;
    ServiceManager& operator=(const ServiceManager&) = delete;

    // Runs the control script with `command` as its only word.
    void run(const QString& command, std::function<void(const CommandResult&)> completion) override;

    void forwardOutput(OutputForward forward) override { forward_ = std::move(forward); }

    // Runs "status" and delivers the parsed report; never fails.
    void status(std::function<void(const ServiceSnapshot&)> completion) override;

    // The service root as a directory file URL, computed afresh from the
    // environment ($KORVAN_APP_SUPPORT_DIR) at every call.
    QUrl serviceRootURL() const;
    // The same root as an absolute local path without a trailing slash, in
    // the file system's bytes.
    QByteArray serviceRootPath() const;

    // True when the pairing file names both agent keys with non-blank values.
    bool hasPairing() const override;

    // Downloads the hub's installer and runs it with the pair code; see
    // Enrollment.h for the steps and results.
    void installAndEnroll(const QString& hubURL, const QString& pairCode,
                          std::function<void(const QString&)> progress,
                          std::function<void(const CommandResult&)> completion) override;

    const QByteArray& home() const { return home_; }

    // A "status" run still going after this long is ended (default 60 s), so
    // hung status queries never pile up. Other command words have no limit.
    void setStatusTimeLimit(std::chrono::milliseconds limit) { statusTimeLimit_ = limit; }

    // Once a "status" script has exited, a descendant holding its output
    // open delays the report at most this long (default 5 s).
    void setStatusExitGrace(std::chrono::milliseconds grace) { statusExitGrace_ = grace; }

    // The one runner of every run this manager makes.
    ProcessRunner& runner() { return *runner_; }

private:
    // The service root as the environment names it now; every path comes from it.
    ServiceRoot serviceRoot() const;

    QByteArray home_;
    std::chrono::milliseconds downloadTimeout_;
    std::chrono::milliseconds statusTimeLimit_ = std::chrono::seconds(60);
    std::chrono::milliseconds statusExitGrace_ = std::chrono::seconds(5);
    std::unique_ptr<ProcessRunner> runner_;
    OutputForward forward_;
};
