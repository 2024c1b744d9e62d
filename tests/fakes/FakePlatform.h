// Recording fakes of the platform services and of the service interface:
// each records what it was asked, can be told to fail, and (the services)
// completes a call only when the test says so. Main thread only.
#pragma once

#include "platform/Alert.h"
#include "platform/LoginItem.h"
#include "platform/Preferences.h"
#include "platform/TrayIcon.h"
#include "platform/UrlOpener.h"
#include "service/ServiceControl.h"

#include <QHash>
#include <QList>
#include <QUrl>
#include <functional>

class FakeServices final : public ServiceControl {
public:
    // Calls not completed yet, in order; "status" or the command word.
    QStringList calls;
    QList<std::function<void()>> pending;
    QList<QPair<QString, QString>> enrollments; // hub, code
    std::function<void(const QString&)> progress;
    bool paired = false;
    CommandResult result;   // what each run and enrollment completes with
    ServiceSnapshot report; // what each status completes with
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
        enrollments << qMakePair(hub, code);
        progress = onProgress;
        pending << [this, done] {
            if (result.status == 0 && pairOnSuccess)
                paired = true;
            done(result);
        };
        if (enrollAtOnce)
            pending.takeLast()();
    }
    // Completes the oldest pending call; false when none is pending.
    bool completeNext() {
        if (pending.isEmpty())
            return false;
        pending.takeFirst()();
        return true;
    }
    void completeAll() {
        while (completeNext()) {
        }
    }
};

class FakeTray final : public TrayIcon {
public:
    QMenu* menu = nullptr;
    QString symbol;
    SymbolTint tint = SymbolTint::grey;
    int symbolChanges = 0;
    QString toolTip;
    bool shown = false;
    bool available = true;

    void setSymbol(const QString& s, SymbolTint t) override {
        symbol = s;
        tint = t;
        ++symbolChanges;
    }
    void setMenu(QMenu* m) override { menu = m; }
    void setToolTip(const QString& text) override { toolTip = text; }
    void show() override { shown = true; }
    bool isTrayAvailable() const override { return available; }
};

class FakeAlert final : public Alert {
public:
    QStringList shown; // message, then informative text, of each alert
    std::function<void()> whileShown;
    void showWarning(const QString& message, const QString& informative, const QString&) override {
        shown << message << informative;
        if (whileShown)
            whileShown();
    }
};

class FakeUrlOpener final : public UrlOpener {
public:
    QList<QUrl> opened;
    void open(const QUrl& url) override { opened.append(url); }
};

class FakePreferences final : public Preferences {
public:
    QHash<QString, bool> values;
    bool boolValue(const QString& key) const override { return values.value(key); }
    void setBoolValue(const QString& key, bool value) override { values[key] = value; }
};

class FakeLoginItem final : public LoginItem {
public:
    LoginItemStatus current = LoginItemStatus::notRegistered;
    std::optional<QString> failure; // returned by the next calls when set
    int registrations = 0;
    int unregistrations = 0;

    LoginItemStatus status() const override { return current; }
    std::optional<QString> registerItem() override {
        ++registrations;
        if (failure)
            return failure;
        current = LoginItemStatus::enabled;
        return std::nullopt;
    }
    std::optional<QString> unregisterItem() override {
        ++unregistrations;
        if (failure)
            return failure;
        current = LoginItemStatus::notRegistered;
        return std::nullopt;
    }
};
