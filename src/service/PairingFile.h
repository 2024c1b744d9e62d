// PairingFile: reads the service root's ".env" to tell whether this machine is
// paired. Only the presence of the two agent keys with non-blank values
// matters; values are never kept or returned.
//
// `read` reads one file without ever blocking on it. Any thread may call it.
#pragma once

#include <QByteArray>
#include <QString>

namespace PairingFile {

inline constexpr char16_t hostIdKey[] = u"KORVAN_AGENT_HOST_ID";
inline constexpr char16_t tokenKey[] = u"KORVAN_AGENT_TOKEN";

// A pairing file is a few lines; anything larger is not one.
inline constexpr qint64 maxBytes = 1024 * 1024;

// Which of the two keys the file names with a value that is not blank.
struct Keys {
    bool hostId = false;
    bool token = false;
};

// What lies at the path: enough for doctor to say why the machine reads as
// unpaired, and never a value. Only a readable regular UTF-8 file of at most
// maxBytes has keys; every other kind reads as "not paired".
struct Reading {
    enum class Kind {
        text,
        missing,
        unreadable,
        notUtf8,
        fifo,
        device,
        directory,
        special,
        tooLarge
    };
    Kind kind = Kind::missing;
    Keys keys;                 // only for `text`
    bool crLfLineEnds = false; // the text holds "\r\n", which splits no line
    bool isPaired() const { return kind == Kind::text && keys.hostId && keys.token; }
};
Reading read(const QByteArray& path); // the file system's own bytes

// For diagnostics: what is wrong with a reading other than `text`, e.g.
// "is a FIFO, not a regular file".
QString problem(Reading::Kind kind);

} // namespace PairingFile
