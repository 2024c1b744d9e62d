// DesktopEntry: reads the [Desktop Entry] group of a freedesktop desktop entry
// file, only as far as the autostart check needs it.
//
// Pure; any thread.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

namespace DesktopEntry {

// Keys and unescaped string values of the [Desktop Entry] group (localised
// keys such as Name[de] are kept under their full name). std::nullopt when
// the text is not UTF-8, the group is missing or not first, or a line is
// neither a comment, a group header nor a key=value pair.
std::optional<QHash<QString, QString>> parse(const QByteArray& contents);

// Splits an (already unescaped) Exec value into its arguments, honouring the
// double-quote rules. std::nullopt for an unterminated quote or no argument.
std::optional<QStringList> splitExec(const QString& exec);

// Escapes a value for writing (\\, \n, \t, \r; a leading space as \s).
QString escapeValue(const QString& value);

} // namespace DesktopEntry
