// DesktopTrayIcon: the program's one tray item on whatever tray the desktop
// has, chosen by one rule.
//
// With a StatusNotifierItem host (the watcher on the session bus says one is
// registered): our StatusNotifierItem. With none, but an XEmbed tray on X11:
// the fallback item (QSystemTrayIcon). Qt decides once per process, at its
// first QSystemTrayIcon call, whether its own icon goes over D-Bus, so the
// fallback is made only after the watcher has said there is no host; when a
// host appears later the fallback goes and our item takes its place, and it
// stays ready for a host that comes back. With neither `noTrayDelay` after
// `show`, one line goes to standard error and one desktop notification is
// sent; the item still appears once a tray does.
//
// Main thread only. Nothing touches the bus or a tray before `show`. The
// caller owns the menu (see TrayIcon).
#pragma once

#include "StatusNotifierItem.h"
#include "TrayIcon.h"
#include "XEmbedTray.h"

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

class DesktopTrayIcon final : public QObject, public TrayIcon {
    Q_OBJECT
public:
    struct Options {
        QString id;    // the StatusNotifierItem's Id, and the notification's icon name
        QString title; // its Title, and the notification's summary
        std::chrono::milliseconds noTrayDelay = std::chrono::seconds(5);
        std::chrono::milliseconds xembedPollInterval = std::chrono::seconds(2);
        StatusNotifierItem::Timing registration;
        std::function<bool()> hasXEmbedTray = XEmbedTray::isPresent;
        // The fallback item; SystemTrayIcon unless set.
        std::function<std::unique_ptr<TrayIcon>()> makeFallback;
        // Where the no-tray line goes; standard error unless set.
        std::function<void(const QString&)> writeError;
    };

    DesktopTrayIcon(QDBusConnection bus, Options options);
    ~DesktopTrayIcon() override;

    void setSymbol(const QString& symbol, SymbolTint tint) override;
    void setMenu(QMenu* menu) override;
    void setToolTip(const QString& text) override;
    void show() override;

private Q_SLOTS:
    void queryHost();

private:
    enum class Choice { undecided, statusNotifierItem, xembed, none };

    void hostIs(bool registered);
    void tryXEmbed();
    void tellNoTray();

    QDBusConnection bus_;
    Options options_;
    StatusNotifierItem item_;
    std::unique_ptr<TrayIcon> fallback_;
    Choice choice_ = Choice::undecided;
    bool shown_ = false;
    int hostQueries_ = 0; // only the latest answer counts
    // What the item shows, for a fallback made later.
    QString symbol_;
    SymbolTint tint_ = SymbolTint::grey;
    QPointer<QMenu> menu_;
    QString toolTip_;
    QTimer noTrayTimer_;
    QTimer xembedTimer_;
};
