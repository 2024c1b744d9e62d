// PairingFile: reads the service root's ".env" to tell whether this machine is
// paired. Only the presence of the two agent keys with non-blank values
// matters; values are never kept or returned.
//
// Pure apart from `isPairedAt`, which reads one file. Any thread may call it.
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

// Reads the file at `path` as strict UTF-8 and applies isPaired; a missing,
// unreadable or non-UTF-8 file (or a directory) is not paired.
bool isPairedAt(const QString& path);

} // namespace PairingFile
