// XdgAutostartLoginItem: start-at-login through the XDG autostart entry
// $XDG_CONFIG_HOME/autostart/korvan-controller.desktop (~/.config when the
// variable is unset or not absolute; read at every call).
//
// As the XDG autostart rules have it, the user's entry replaces a system-wide
// one of the same name in $XDG_CONFIG_DIRS/autostart (the first directory
// holding one wins), and a user entry with Hidden=true hides it.
//
// Status reads the user's entry when there is one, else the system-wide one:
// `enabled` when it parses as a desktop entry, is not switched off
// (Hidden=true or X-GNOME-Autostart-enabled=false) and its Exec program
// exists; `notFound` when such an entry names a program that is gone (the
// program moved; registering again repairs it); `notRegistered` otherwise.
// `requiresApproval` never arises on this desktop.
//
// Register removes a hiding user entry when that brings back an enabled
// system-wide one, and otherwise writes the user's entry with `writer`
// (AtomicFile::write unless a test gives another), naming `executablePath`
// quoted in Exec and as TryExec (a desktop skips the entry once the program
// is gone), with the program's Icon; each write replaces the whole entry, so
// an older one gains those keys too. Unregister hides a system-wide entry
// with Hidden=true and otherwise removes the user's entry. Main thread only.
#pragma once

#include "AtomicFile.h"
#include "LoginItem.h"

#include <QString>

class XdgAutostartLoginItem final : public LoginItem {
public:
    XdgAutostartLoginItem(QString executablePath, QString displayName,
                          AtomicFile::Writer writer = AtomicFile::write);

    LoginItemStatus status() const override;
    std::optional<QString> registerItem() override;
    std::optional<QString> unregisterItem() override;

    // Where the user's entry lives for the current environment.
    static QString entryPath();

    // The entry that decides the status: the user's when there is one, else
    // the system-wide one, else where the user's would go.
    static QString activeEntryPath();

    // The Exec value for `program`: one argument quoted as the desktop entry
    // format asks, then escaped as a string value.
    static QString execValue(const QString& program);

private:
    std::optional<QString> writeEntry(bool hidden) const;

    QString executablePath_;
    QString displayName_;
    AtomicFile::Writer writer_;
};
