#include "TrayIcon.h"

#include "SymbolIcons.h"

#include <QSystemTrayIcon>

SystemTrayIcon::SystemTrayIcon() : item_(std::make_unique<QSystemTrayIcon>()) {}

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
    item_->setContextMenu(menu);
}

void SystemTrayIcon::setToolTip(const QString& text) {
    item_->setToolTip(text);
}

void SystemTrayIcon::show() {
    item_->show();
}

bool SystemTrayIcon::isTrayAvailable() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}
