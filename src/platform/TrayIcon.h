// TrayIcon: the program's one status item in the desktop's tray (or status
// bar), with its icon, tooltip and context menu.
//
// Main thread only. The caller owns the menu and must hand in nullptr before
// the menu goes; the item never deletes it. `setSymbol` names a bundled
// symbol and a tint; the real item draws each pair once and afterwards only
// switches between the drawn icons. A left click opens the same menu as a
// right click where the platform lets a program place it (X11); on Wayland
// the host's own right-click menu stays the way in.
#pragma once

#include "core/Presentation.h"

#include <QHash>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <memory>

class QMenu;
class QSystemTrayIcon;

class TrayIcon {
public:
    virtual ~TrayIcon() = default;
    virtual void setSymbol(const QString& symbol, SymbolTint tint) = 0;
    virtual void setMenu(QMenu* menu) = 0;
    virtual void setToolTip(const QString& text) = 0;
    virtual void show() = 0;
    // A tray host is there to show the item.
    virtual bool isTrayAvailable() const = 0;
};

// The real item over QSystemTrayIcon: a StatusNotifierItem or an XEmbed icon.
class SystemTrayIcon final : public TrayIcon {
public:
    SystemTrayIcon();
    ~SystemTrayIcon() override;
    SystemTrayIcon(const SystemTrayIcon&) = delete;
    SystemTrayIcon& operator=(const SystemTrayIcon&) = delete;

    void setSymbol(const QString& symbol, SymbolTint tint) override;
    void setMenu(QMenu* menu) override;
    void setToolTip(const QString& text) override;
    void show() override;
    bool isTrayAvailable() const override;

private:
    std::unique_ptr<QSystemTrayIcon> item_;
    QPointer<QMenu> menu_;
    QHash<QString, QIcon> drawn_; // by symbol name and tint
};
