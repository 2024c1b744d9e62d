// ServiceSnapshot: one parsed "status" report of the control script.
//
// A value type. A default-constructed snapshot is what the tray shows before
// any report arrives. `parse` is pure and total: every text yields a snapshot,
// malformed lines are ignored and unreadable memory values read as 0.
// Any thread may use it.
#pragma once

#include "core/RemoteState.h"
#include "core/Utf8Text.h"

#include <QByteArrayView>
#include <QString>
#include <optional>

struct ServiceSnapshot {
    QString desired = QStringLiteral("enabled");
    QString bridge = QStringLiteral("stopped");
    QString agent = QStringLiteral("stopped");
    QString hub = QStringLiteral("offline");
    qint64 bridgeMemoryKB = 0;
    qint64 agentMemoryKB = 0;

    // Derived from the four text fields on every call; memory plays no part.
    RemoteState state() const;

    // Parses the key=value report. Lines are cut at line feeds only; a
    // carriage return followed by a line feed does not end a line. For each
    // key the last line wins. Keys are compared as bytes; only the values
    // kept become QString.
    static ServiceSnapshot parse(const Utf8Text& report);

    // Reads a memory value: optional single sign, one or more ASCII digits,
    // within the 64-bit range. Anything else is std::nullopt.
    static std::optional<qint64> parseMemoryKB(QByteArrayView value);

    friend bool operator==(const ServiceSnapshot&, const ServiceSnapshot&) = default;
};
