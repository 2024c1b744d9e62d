// PairingFile: reads the service root's ".env" to tell whether this machine is
// paired. Only the presence of the two agent keys with non-blank values
// matters; values are never kept or returned.
//
// Pure apart from `read` and `isPairedAt`, which read one file. Any thread
// may call it.
#pragma once

#include <QString>
#include <QStringView>

namespace PairingFile {

inline constexpr char16_t hostIdKey[] = u"KORVAN_AGENT_HOST_ID";
inline constexpr char16_t tokenKey[] = u"KORVAN_AGENT_TOKEN";

// Which of the two keys the text names with a value that is not blank.
struct Keys {
    bool hostId = false;
    bool token = false;
};
Keys keysIn(QStringView text);

// True when the text names both keys, each with a value that is not blank.
bool isPaired(QStringView text);

// What reading the file found: enough for doctor to say why the machine
// reads as unpaired, and never a value.
struct Reading {
    enum class Found { text, absent, unreadable, notUtf8 };
    Found found = Found::absent;
    Keys keys;                 // only for `text`
    bool crLfLineEnds = false; // the text holds "\r\n", which splits no line
    bool isPaired() const { return found == Found::text && keys.hostId && keys.token; }
};

// Reads the file at `path` as strict UTF-8; a missing, unreadable or
// non-UTF-8 file (or a directory) has no keys.
Reading read(const QString& path);

// read(path).isPaired().
bool isPairedAt(const QString& path);

} // namespace PairingFile
