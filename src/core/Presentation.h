// Presentation: everything the tray shows for one moment, as one value: the
// five information lines, which of start, stop and restart can be chosen, and
// the status icon as a symbol name and a symbolic tint.
//
// Pure; any thread. The tint is only a name here: its colour is the
// platform's business, so the same value drives any toolkit.
#pragma once

#include "core/ServiceSnapshot.h"

#include <QString>

enum class SymbolTint { grey, yellow, green, red };

namespace StatusSymbol {
inline const QString stopped = QStringLiteral("power.circle");
inline const QString active = QStringLiteral("antenna.radiowaves.left.and.right.circle.fill");
inline const QString failed = QStringLiteral("exclamationmark.circle.fill");
} // namespace StatusSymbol

struct Presentation {
    QString stateLine;
    QString bridgeLine;
    QString agentLine;
    QString hubLine;
    QString memoryLine;
    bool canStart = true;
    bool canStop = true;
    bool canRestart = true;
    QString symbol;
    SymbolTint tint = SymbolTint::yellow;

    // A paired machine before its first report.
    static Presentation checking();
    // A machine with no pairing: nothing to command yet.
    static Presentation unpaired();
    // A report; while a command runs (`busy`) the state reads as switching
    // and no command can be chosen.
    static Presentation of(const ServiceSnapshot& snapshot, bool busy);

    friend bool operator==(const Presentation&, const Presentation&) = default;
};
