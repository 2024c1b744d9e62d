// The status report parser: every field is what the last usable line for its
// key says, and the state follows from the four text fields.
#include "FuzzReference.h"
#include "core/ServiceSnapshot.h"

#include <charconv>
#include <string>

namespace {

// A memory value: optional single sign, then ASCII digits only, within 64 bits.
qint64 referenceMemory(const QString& value) {
    std::string s = value.toStdString();
    if (s.empty())
        return 0;
    bool negative = false;
    if (s[0] == '+' || s[0] == '-') {
        negative = s[0] == '-';
        s.erase(0, 1);
    }
    if (s.empty())
        return 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return 0;
    }
    if (negative)
        s.insert(0, 1, '-');
    long long result = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), result);
    if (ec != std::errc() || end != s.data() + s.size())
        return 0;
    return result;
}

ServiceSnapshot referenceParse(const QString& report) {
    ServiceSnapshot s;
    for (QString line : reference::lines(report)) {
        while (line.startsWith(u'='))
            line.remove(0, 1);
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        const QString key = line.left(eq);
        const QString value = line.mid(eq + 1);
        if (value.isEmpty())
            continue;
        if (key == QLatin1String("desired"))
            s.desired = value;
        else if (key == QLatin1String("bridge"))
            s.bridge = value;
        else if (key == QLatin1String("agent"))
            s.agent = value;
        else if (key == QLatin1String("hub"))
            s.hub = value;
        else if (key == QLatin1String("bridge_memory_kb"))
            s.bridgeMemoryKB = referenceMemory(value);
        else if (key == QLatin1String("agent_memory_kb"))
            s.agentMemoryKB = referenceMemory(value);
    }
    return s;
}

RemoteState referenceState(const ServiceSnapshot& s) {
    const QString online = QStringLiteral("online");
    if (s.desired == QLatin1String("disabled"))
        return RemoteState::stopped;
    const int up = int(s.bridge == online) + int(s.agent == online);
    if (up == 2 && s.hub == online)
        return RemoteState::linked;
    return up > 0 ? RemoteState::connecting : RemoteState::failed;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The report reaches the parser as decoded text; lossy decoding keeps
    // every input reachable.
    const QString report = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const ServiceSnapshot parsed = ServiceSnapshot::parse(report);
    const ServiceSnapshot expected = referenceParse(report);
    FUZZ_CHECK(parsed.desired == expected.desired);
    FUZZ_CHECK(parsed.bridge == expected.bridge);
    FUZZ_CHECK(parsed.agent == expected.agent);
    FUZZ_CHECK(parsed.hub == expected.hub);
    FUZZ_CHECK(parsed.bridgeMemoryKB == expected.bridgeMemoryKB);
    FUZZ_CHECK(parsed.agentMemoryKB == expected.agentMemoryKB);
    FUZZ_CHECK(parsed.state() == referenceState(parsed));
    FUZZ_CHECK(parsed.state() != RemoteState::switching);
    return 0;
}
