// ServiceManager: the one service-control object of the application.
//
// Every action on the background services is one run of the installation's
// control script, "scripts/korvan-service-control.sh" under the service root.
// Call every operation on the main thread; completions always arrive on the
// main thread, exactly once (except the synchronous rejection of an unusable
// hub address, which completes before installAndEnroll returns). Runs are
// independent: a script that never exits holds only its own thread.
//
// The manager keeps no state between calls apart from the home directory it
// took at construction. Destroying it drops every completion still pending.
#pragma once

#include "CommandResult.h"
#include "ServiceRoot.h"
#include "ServiceSnapshot.h"

#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>

class MainQueue;

class ServiceManager {
public:
    ServiceManager();                      // home = the current user's home
    explicit ServiceManager(QString home); // for tests and tools
    ~ServiceManager();
    ServiceManager(const ServiceManager&) = delete;
    ServiceManager& operator=(const ServiceManager&) = delete;

    // Runs the control script with `command` as its only word.
    void run(const QString& command, std::function<void(const CommandResult&)> completion);

    // Runs "status" and delivers the parsed report; never fails.
    void status(std::function<void(const ServiceSnapshot&)> completion);

    // The service root as the environment names it now; every path below
    // comes from it.
    ServiceRoot serviceRoot() const;
    // The service root as a directory file URL, computed afresh from the
    // environment ($KORVAN_APP_SUPPORT_DIR) at every call.
    QUrl serviceRootURL() const;
    // The same root as an absolute local path without a trailing slash.
    QString serviceRootPath() const;
    QString controlScriptPath() const;
    QString pairingFilePath() const;

    // True when the pairing file names both agent keys with non-blank values.
    bool hasPairing() const;

    // Downloads the hub's installer and runs it with the pair code; see
    // Enrollment.h for the steps and results.
    void installAndEnroll(const QString& hubURL, const QString& pairCode,
                          std::function<void(const QString&)> progress,
                          std::function<void(const CommandResult&)> completion);

    const QString& home() const { return home_; }

    // A "status" run still going after this long is ended (default 60 s), so
    // hung status queries never pile up. Other command words have no limit.
    void setStatusTimeLimit(std::chrono::milliseconds limit) { statusTimeLimit_ = limit; }
    std::chrono::milliseconds statusTimeLimit() const { return statusTimeLimit_; }

    std::shared_ptr<MainQueue> mainQueue() const { return mainQueue_; }

private:
    QString home_;
    std::chrono::milliseconds statusTimeLimit_ = std::chrono::seconds(60);
    std::shared_ptr<MainQueue> mainQueue_;
};
