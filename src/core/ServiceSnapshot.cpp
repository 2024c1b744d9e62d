#include "core/ServiceSnapshot.h"

#include "core/TextRules.h"

#include <limits>

RemoteState ServiceSnapshot::state() const {
    if (desired == u"disabled")
        return RemoteState::stopped;
    const bool bridgeUp = bridge == u"online";
    const bool agentUp = agent == u"online";
    if (bridgeUp && agentUp && hub == u"online")
        return RemoteState::linked;
    if (bridgeUp || agentUp)
        return RemoteState::connecting;
    return RemoteState::failed;
}

std::optional<qint64> ServiceSnapshot::parseMemoryKB(QByteArrayView value) {
    bool negative = false;
    if (!value.isEmpty() && (value.front() == '+' || value.front() == '-')) {
        negative = value.front() == '-';
        value = value.sliced(1);
    }
    if (value.isEmpty())
        return std::nullopt;
    // Accumulate towards the negative side: its range is one wider, so the
    // smallest 64-bit value reads without overflow.
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    qint64 acc = 0;
    for (const char c : value) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const int digit = c - '0';
        if (acc < (min + digit) / 10)
            return std::nullopt;
        acc = acc * 10 - digit;
    }
    if (negative)
        return acc;
    if (acc == min)
        return std::nullopt;
    return -acc;
}

ServiceSnapshot ServiceSnapshot::parse(const Utf8Text& report) {
    ServiceSnapshot snapshot;
    const QByteArrayView all = report.view();
    for (qsizetype start = 0; start < all.size();) {
        // The line ends at the next line feed that does not follow a carriage
        // return. Both are ASCII, so no cut falls inside a sequence.
        qsizetype end = start;
        while ((end = all.indexOf('\n', end)) > 0 && all[end - 1] == '\r')
            ++end;
        if (end < 0)
            end = all.size();
        QByteArrayView line = all.sliced(start, end - start);
        start = end + 1;
        while (!line.isEmpty() && line.front() == '=')
            line = line.sliced(1);
        const qsizetype eq = line.indexOf('=');
        if (eq < 0)
            continue;
        const QByteArrayView key = line.first(eq);
        const QByteArrayView value = line.sliced(eq + 1);
        if (value.isEmpty())
            continue;
        if (key == "desired")
            snapshot.desired = text::fromWellFormedUtf8(value);
        else if (key == "bridge")
            snapshot.bridge = text::fromWellFormedUtf8(value);
        else if (key == "agent")
            snapshot.agent = text::fromWellFormedUtf8(value);
        else if (key == "hub")
            snapshot.hub = text::fromWellFormedUtf8(value);
        else if (key == "bridge_memory_kb")
            snapshot.bridgeMemoryKB = parseMemoryKB(value).value_or(0);
        else if (key == "agent_memory_kb")
            snapshot.agentMemoryKB = parseMemoryKB(value).value_or(0);
    }
    return snapshot;
}
