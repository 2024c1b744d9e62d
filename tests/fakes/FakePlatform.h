// Fakes of the platform services: each records what it was asked and can be
// told to fail. Main thread only, like the services they stand in for.
#pragma once

#include "platform/Alert.h"
#include "platform/LoginItem.h"
#include "platform/UrlOpener.h"

#include <QList>
#include <QUrl>
#include <functional>

class FakeAlert final : public Alert {
public:
    struct Shown {
        QString messageText;
        QString informativeText;
        QString buttonTitle;
    };
    QList<Shown> shown;
    // Runs while the alert would be on screen, to see what happened before it.
    std::function<void()> whileShown;

    void showWarning(const QString& messageText, const QString& informativeText,
                     const QString& buttonTitle) override {
        shown.append({messageText, informativeText, buttonTitle});
        if (whileShown)
            whileShown();
    }
};

class FakeUrlOpener final : public UrlOpener {
public:
    QList<QUrl> opened;
    void open(const QUrl& url) override { opened.append(url); }
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
