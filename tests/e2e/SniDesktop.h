// A desktop whose tray is a StatusNotifierItem host: a private session bus,
// an X server, and Debian's standalone SNI tray with its own watcher.
//
// Test thread only. start() brings all three up and waits until the host has
// registered with the watcher, so a controller started afterwards finds a
// tray at once.
#pragma once

#include "DesktopHarness.h"
#include "TrayBusClient.h"

#include <QDBusConnection>
#include <QTest>

namespace e2e {

class SniDesktop {
public:
    static QStringList requiredTools() {
        return {QStringLiteral("dbus-run-session"),
                QStringLiteral("Xvfb"),
                QStringLiteral("gtk-sni-tray-standalone"),
                QStringLiteral("xdotool"),
                QStringLiteral("xwininfo"),
                QStringLiteral("import")};
    }

    ~SniDesktop() {
        endChild(host_.get());
        QDBusConnection::disconnectFromBus(QStringLiteral("e2e"));
    }

    bool start(QString* error) {
        if (!bus_.start(error) || !x_.start(error))
            return false;
        client_.emplace(QDBusConnection::connectToBus(bus_.address(), QStringLiteral("e2e")));
        if (!client_->bus().isConnected()) {
            *error = QStringLiteral("cannot connect to the private bus");
            return false;
        }
        // The standalone tray races its own watcher at start-up and now and
        // then quits on the watcher's "unknown object" answer; a session
        // manager would restart it, and so do we.
        TrayBusClient& client = *client_;
        for (int attempt = 0; attempt < 3; ++attempt) {
            endChild(host_.get());
            host_ = startChild(QStringLiteral("gtk-sni-tray-standalone"),
                               {QStringLiteral("--watcher"), QStringLiteral("--top"),
                                QStringLiteral("--end"), QStringLiteral("--size"),
                                QStringLiteral("28")},
                               env(), error);
            if (!host_)
                return false;
            QProcess* host = host_.get();
            const bool settled = QTest::qWaitFor(
                [&] { return host->state() != QProcess::Running || client.isHostRegistered(); },
                20000);
            if (settled && host->state() == QProcess::Running)
                return true;
            *error = QStringLiteral("the SNI host never registered: ") +
                     QString::fromLocal8Bit(host->readAllStandardError());
        }
        return false;
    }

    // The environment of a program on this desktop, living in `user`'s home.
    QProcessEnvironment env(const UserSession& user) const {
        return user.environment(x_.display(), bus_.address());
    }
    QProcessEnvironment env() const { return env(session_); }
    TrayBusClient& client() { return *client_; }

private:
    SessionBus bus_;
    XServer x_;
    UserSession session_;
    std::unique_ptr<QProcess> host_;
    std::optional<TrayBusClient> client_;
};

} // namespace e2e
