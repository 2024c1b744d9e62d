// TrayIcon: the program's one status item in the desktop's tray (or status
// bar), with its icon, tooltip and context menu.
//
// Main thread only. The caller owns the menu and must hand in nullptr before
// the menu goes; the item never deletes it. `setSymbol` names a bundled
// symbol and a tint; the real items draw each pair once and afterwards only
// switch between the drawn icons. `show` puts the item up once; an item whose
// tray is not there yet appears when it comes. A left click opens the same
// menu as a right click.
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
};

// The XEmbed item over QSystemTrayIcon (see DesktopTrayIcon for when it is
// used). A left click pops the menu up at the pointer.
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

private:
    std::unique_ptr<QSystemTrayIcon> item_;
    QPointer<QMenu> menu_;
    QHash<QString, QIcon> drawn_; // by symbol name and tint
};
