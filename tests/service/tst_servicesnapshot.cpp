// Status report parsing and the derived state.
#include "core/ServiceSnapshot.h"

#include <QTest>
#include <limits>

using namespace Qt::StringLiterals;
using State = RemoteState;

class TestServiceSnapshot : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parse_data();
    void parse();
};

void TestServiceSnapshot::parse_data() {
    QTest::addColumn<QString>("report");
    QTest::addColumn<ServiceSnapshot>("expected");
    QTest::addColumn<State>("state");
    const QString on = u"online"_s, down = u"stopped"_s, off = u"offline"_s, en = u"enabled"_s;
    constexpr qint64 max = std::numeric_limits<qint64>::max(), min = -max - 1;
    const auto row = [](const char* name, const QString& report, const ServiceSnapshot& s,
                        State state) { QTest::newRow(name) << report << s << state; };
    row("empty", {}, {}, State::failed);
    row("disabled", u"desired=disabled\nbridge=online\nagent=online\nhub=online"_s,
        {u"disabled"_s, on, on, on}, State::stopped);
    row("linked", u"bridge=online\nagent=online\nhub=online"_s, {en, on, on, on}, State::linked);
    row("connecting", u"bridge=online\nagent=online\nhub=offline"_s, {en, on, on, off},
        State::connecting);
    row("case and blanks count", u"bridge=Online\nagent=online \n desired=disabled"_s,
        {en, u"Online"_s, u"online "_s, off}, State::failed);
    row("last line wins, keys exact", u"bridge=online\nbridge=stopped\nBridge=online\nagent"_s, {},
        State::failed);
    row("= in values, leading = dropped", u"hub=online=yes\nagent=\n\n=desired=x"_s,
        {u"x"_s, down, down, u"online=yes"_s}, State::failed);
    row("desired==x", u"desired==x"_s, {u"=x"_s, down, down, off}, State::failed);
    row("CR LF is no line end", u"bridge=online\r\nagent=online\r\nhub=online"_s,
        {en, u"online\r\nagent=online\r\nhub=online"_s, down, off}, State::failed);
    row("wide blank kept", u"hub=在线　"_s, {en, down, down, u"在线　"_s}, State::failed);
    row("byte-order marks", u"\uFEFFdesired=disabled\nhub=\uFEFFx"_s,
        {en, down, down, u"\uFEFFx"_s}, State::failed);
    row("memory: a sign, leading zeros", u"bridge_memory_kb=+7\nagent_memory_kb=00512"_s,
        {en, down, down, off, 7, 512}, State::failed);
    row("memory: no digits after the sign, wide digits",
        u"bridge_memory_kb=+\nagent_memory_kb=１２"_s, {}, State::failed);
    row("memory: trailing or leading text", u"bridge_memory_kb=12x\nagent_memory_kb= 1"_s, {},
        State::failed);
    row("memory: the 64-bit range",
        u"bridge_memory_kb=9223372036854775807\nagent_memory_kb=-9223372036854775808"_s,
        {en, down, down, off, max, min}, State::failed);
    row("memory: past the range",
        u"bridge_memory_kb=9223372036854775808\nagent_memory_kb=-9223372036854775809"_s, {},
        State::failed);
    row("memory: last line wins", u"agent_memory_kb=100\nagent_memory_kb=oops"_s, {},
        State::failed);
}

void TestServiceSnapshot::parse() {
    QFETCH(QString, report);
    QFETCH(ServiceSnapshot, expected);
    const ServiceSnapshot s = ServiceSnapshot::parse(report);
    QCOMPARE(s.desired, expected.desired);
    QCOMPARE(s.bridge, expected.bridge);
    QCOMPARE(s.agent, expected.agent);
    QCOMPARE(s.hub, expected.hub);
    QCOMPARE(s.bridgeMemoryKB, expected.bridgeMemoryKB);
    QCOMPARE(s.agentMemoryKB, expected.agentMemoryKB);
    QTEST(s.state(), "state");
}

QTEST_GUILESS_MAIN(TestServiceSnapshot)
#include "tst_servicesnapshot.moc"
