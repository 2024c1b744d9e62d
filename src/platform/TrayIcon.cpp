#include "TrayIcon.h"

#include "SymbolIcons.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>

SystemTrayIcon::SystemTrayIcon() : item_(std::make_unique<QSystemTrayIcon>()) {
    // An XEmbed tray reports a left click as Trigger. Context is left to Qt,
    // which opens the menu itself; answering it too would open the menu
    // twice. Only X11 lets a program place a popup at the pointer.
    QObject::connect(item_.get(), &QSystemTrayIcon::activated, item_.get(),
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger && menu_ &&
                             QGuiApplication::platformName() == u"xcb")
                             menu_->popup(QCursor::pos());
                     });
}

SystemTrayIcon::~SystemTrayIcon() = default;

void SystemTrayIcon::setSymbol(const QString& symbol, SymbolTint tint) {
    // A fresh icon would be parsed and drawn again, and a tray host that takes
    // pixmaps would be sent every size of it anew; keep the ones drawn.
    const QString key = symbol + u'/' + QString::number(static_cast<int>(tint));
    auto found = drawn_.constFind(key);
    if (found == drawn_.cend())
        found = drawn_.insert(key, SymbolIcons::tinted(symbol, SymbolIcons::tintColor(tint)));
    item_->setIcon(*found);
}

void SystemTrayIcon::setMenu(QMenu* menu) {
    menu_ = menu;
    item_->setContextMenu(menu);
}

void SystemTrayIcon::setToolTip(const QString& text) {
    item_->setToolTip(text);
}

void SystemTrayIcon::show() {
    item_->show();
}
