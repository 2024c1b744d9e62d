// Recording fakes of the platform, and of the services (FakeServices.h).
// Main thread only.
#pragma once

#include "FakeServices.h"
#include "platform/Alert.h"
#include "platform/LoginItem.h"
#include "platform/Preferences.h"
#include "platform/TrayIcon.h"
#include "platform/UrlOpener.h"

#include <QUrl>
#include <functional>

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

// Returns at once, as the real alert does; the test dismisses it.
struct FakeAlert final : Alert {
    QStringList shown;                 // message, informative text and button of each
    QList<std::function<void()>> open; // the dismissal of each alert still up
    void showWarning(const QString& message, const QString& informative, const QString& button,
                     std::function<void()> dismissed) override {
        shown << message << informative << button;
        open << (dismissed ? dismissed : [] {});
    }
    bool dismiss() { return !open.isEmpty() && (open.takeFirst()(), true); }
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
