// XdgAutostartLoginItem: start-at-login through the XDG autostart entry
// $XDG_CONFIG_HOME/autostart/korvan-controller.desktop (~/.config when the
// variable is unset or not absolute; read at every call).
//
// Status: `enabled` when the entry parses as a desktop entry, is not switched
// off (Hidden=true or X-GNOME-Autostart-enabled=false) and its Exec program
// exists; `notFound` when such an entry names a program that is gone (the
// program moved; registering again repairs it); `notRegistered` otherwise.
// `requiresApproval` never arises on this desktop.
//
// Register writes the entry atomically, naming `executablePath` quoted;
// unregister removes it. Main thread only.
#pragma once

#include "LoginItem.h"

#include <QString>

class XdgAutostartLoginItem final : public LoginItem {
public:
    XdgAutostartLoginItem(QString executablePath, QString displayName);

    LoginItemStatus status() const override;
    std::optional<QString> registerItem() override;
    std::optional<QString> unregisterItem() override;

    // Where the entry lives for the current environment.
    static QString entryPath();

    // The Exec value for `program`: one argument quoted as the desktop entry
    // format asks, then escaped as a string value.
    static QString execValue(const QString& program);

private:
    QString executablePath_;
    QString displayName_;
};
