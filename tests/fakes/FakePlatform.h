// Recording fakes of the services and the platform; a service call completes
// only when the test says so. Main thread only.
#pragma once

#include "platform/Alert.h"
#include "platform/LoginItem.h"
#include "platform/Preferences.h"
#include "platform/TrayIcon.h"
#include "platform/UrlOpener.h"
#include "service/ServiceControl.h"

#include <QEventLoop>
#include <QUrl>
#include <functional>

struct FakeServices final : ServiceControl {
    QStringList calls;       // "status" or the command word, in order
    QStringList enrollments; // hub, then code, of each
    QList<std::function<void()>> pending;
    std::function<void(const QString&)> progress;
    CommandResult result;   // of each run and enrollment
    ServiceSnapshot report; // of each status
    bool paired = false;
    bool pairOnSuccess = true;
    bool enrollAtOnce = false; // completes before installAndEnroll returns

    void run(const QString& command, std::function<void(const CommandResult&)> done) override {
        calls << command;
        pending << [this, done] { done(result); };
    }
    void status(std::function<void(const ServiceSnapshot&)> done) override {
        calls << QStringLiteral("status");
        pending << [this, done] { done(report); };
    }
    bool hasPairing() const override { return paired; }
    void installAndEnroll(const QString& hub, const QString& code,
                          std::function<void(const QString&)> onProgress,
                          std::function<void(const CommandResult&)> done) override {
        enrollments << hub << code;
        progress = onProgress;
        pending << [this, done] {
            paired = paired || (result.status == 0 && pairOnSuccess);
            done(result);
        };
        if (enrollAtOnce)
            pending.takeLast()();
    }
    bool completeNext() { return !pending.isEmpty() && (pending.takeFirst()(), true); }
    void completeAll() {
        while (completeNext())
            continue;
    }
};

struct FakeTray final : TrayIcon {
    QMenu* menu = nullptr;
    QString symbol, toolTip;
    SymbolTint tint = SymbolTint::grey;
    int symbolChanges = 0;
    bool shown = false;

    void setSymbol(const QString& s, SymbolTint t) override {
        symbol = s, tint = t, ++symbolChanges;
    }
    void setMenu(QMenu* m) override { menu = m; }
    void setToolTip(const QString& text) override { toolTip = text; }
    void show() override { shown = true; }
};

// Runs an event loop as the real alert does, `whileShown` inside it.
struct FakeAlert final : Alert {
    QStringList shown; // message, then informative text, of each
    std::function<void()> whileShown;
    void showWarning(const QString& message, const QString& informative, const QString&) override {
        shown << message << informative;
        QEventLoop loop;
        QMetaObject::invokeMethod(
            &loop, [&] { whileShown ? whileShown() : void(), loop.quit(); }, Qt::QueuedConnection);
        loop.exec();
    }
};

struct FakeUrlOpener final : UrlOpener {
    QList<QUrl> opened;
    void open(const QUrl& url) override { opened.append(url); }
};

struct FakeLoginItem final : LoginItem {
    LoginItemStatus current = LoginItemStatus::notRegistered;
    std::optional<QString> failure; // of every change while set

    LoginItemStatus status() const override { return current; }
    auto change(LoginItemStatus to) { return failure ? failure : (current = to, failure); }
    std::optional<QString> registerItem() override { return change(LoginItemStatus::enabled); }
    std::optional<QString> unregisterItem() override {
        return change(LoginItemStatus::notRegistered);
    }
};
