// The status report parser, reading the checked bytes (input that is not
// UTF-8 is made into text first): the last usable line of a key wins, a
// memory figure comes from the report and reads back alone as itself, the
// state agrees with the fields, and the memory line keeps its form.
#include "core/ServiceSnapshot.h"
#include "core/StatusText.h"

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const Utf8Text checked = Utf8Text::fromUtf8(bytes).value_or(QString::fromUtf8(bytes));
    const QString report = checked.toString();
    const auto parse = [](const QString& text) { return ServiceSnapshot::parse(text); };
    const ServiceSnapshot s = ServiceSnapshot::parse(checked);
    for (const auto& [key, field] : {std::pair{u"desired="_s, &ServiceSnapshot::desired},
                                     {u"bridge="_s, &ServiceSnapshot::bridge},
                                     {u"agent="_s, &ServiceSnapshot::agent},
                                     {u"hub="_s, &ServiceSnapshot::hub}}) {
        // A line feed after a trailing carriage return joins lines; the second one cuts.
        FUZZ_CHECK(parse(report + u"\n\n" + key + u"z").*field == u"z");
        const QString first = parse(key + u"z\n" + report).*field;
        FUZZ_CHECK(first == s.*field || (first == u"z" && s.*field == ServiceSnapshot().*field));
    }
    for (const qint64 kb : {s.bridgeMemoryKB, s.agentMemoryKB}) {
        FUZZ_CHECK(kb == 0 || report.contains(QString::number(kb).remove(u'-')));
        FUZZ_CHECK(parse(u"agent_memory_kb=" + QString::number(kb)).agentMemoryKB == kb);
    }
    FUZZ_CHECK(s.state() != RemoteState::switching);
    FUZZ_CHECK((s.state() == RemoteState::stopped) == (s.desired == u"disabled"));
    FUZZ_CHECK(s.state() != RemoteState::linked ||
               (s.bridge == u"online" && s.agent == u"online" && s.hub == u"online"));
    const QString memory = StatusText::memoryLine(s);
    FUZZ_CHECK(memory == StatusText::memoryZero ||
               (memory.startsWith(StatusText::memoryAboutPrefix) &&
                memory.endsWith(StatusText::memorySuffix)));
    return 0;
}
