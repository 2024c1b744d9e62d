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

std::optional<qint64> ServiceSnapshot::parseMemoryKB(QStringView value) {
    bool negative = false;
    if (!value.isEmpty() && (value.front() == u'+' || value.front() == u'-')) {
        negative = value.front() == u'-';
        value = value.sliced(1);
    }
    if (value.isEmpty())
        return std::nullopt;
    // Accumulate towards the negative side: its range is one wider, so the
    // smallest 64-bit value reads without overflow.
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    qint64 acc = 0;
    for (QChar c : value) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c.unicode() - u'0';
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

ServiceSnapshot ServiceSnapshot::parse(QStringView report) {
    ServiceSnapshot snapshot;
    for (QStringView line : text::splitLines(report)) {
        qsizetype start = 0;
        while (start < line.size() && line[start] == u'=')
            ++start;
        line = line.sliced(start);
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        const QStringView key = line.first(eq);
        const QStringView value = line.sliced(eq + 1);
        if (value.isEmpty())
            continue;
        if (key == u"desired")
            snapshot.desired = value.toString();
        else if (key == u"bridge")
            snapshot.bridge = value.toString();
        else if (key == u"agent")
            snapshot.agent = value.toString();
        else if (key == u"hub")
            snapshot.hub = value.toString();
        else if (key == u"bridge_memory_kb")
            snapshot.bridgeMemoryKB = parseMemoryKB(value).value_or(0);
        else if (key == u"agent_memory_kb")
            snapshot.agentMemoryKB = parseMemoryKB(value).value_or(0);
    }
    return snapshot;
}
