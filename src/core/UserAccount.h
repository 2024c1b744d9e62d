// UserAccount: the one lookup in the password database, for the user name
// that korvanctl reports and the home folders that "~" and a missing $HOME
// stand for.
//
// Reentrant (getpwuid_r/getpwnam_r with a buffer of our own, grown when the
// entry does not fit); any thread may call it.
#pragma once

#include <QByteArray>
#include <optional>
#include <sys/types.h>

struct UserAccount {
    QByteArray name; // the login name, never empty
    QByteArray home; // the home folder as recorded; may be empty

    // Nothing when the database has no such user or cannot be read.
    static std::optional<UserAccount> byId(uid_t uid);
    static std::optional<UserAccount> byName(const QByteArray& name);
};
