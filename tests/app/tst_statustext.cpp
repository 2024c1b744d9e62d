// The information lines shown in the menu and printed by korvanctl.
#include "app/StatusText.h"

#include <QTest>
#include <limits>

Q_DECLARE_METATYPE(RemoteState)

class TestStatusText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void stateLines_data();
    void stateLines();
    void serviceLines_data();
    void serviceLines();
    void memory_data();
    void memory();
};

void TestStatusText::stateLines_data() {
    QTest::addColumn<RemoteState>("state");
    QTest::addColumn<QString>("line");
    QTest::newRow("stopped") << RemoteState::stopped << QStringLiteral("状态: 已停止");
    QTest::newRow("switching") << RemoteState::switching << QStringLiteral("状态: 正在切换...");
    QTest::newRow("linked") << RemoteState::linked << QStringLiteral("状态: 已联动");
    QTest::newRow("connecting") << RemoteState::connecting << QStringLiteral("状态: 正在连接");
    QTest::newRow("failed") << RemoteState::failed << QStringLiteral("状态: 启动失败");
}

void TestStatusText::stateLines() {
    QFETCH(RemoteState, state);
    QTEST(StatusText::stateLine(state), "line");
}

void TestStatusText::serviceLines_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("bridge");
    QTest::addColumn<QString>("agent");
    QTest::addColumn<QString>("hub");
    QTest::newRow("online") << QStringLiteral("online") << QStringLiteral("Bridge: 运行中")
                            << QStringLiteral("Agent: 运行中") << QStringLiteral("云端: 已联动");
    QTest::newRow("other case") << QStringLiteral("Online") << QStringLiteral("Bridge: 已停止")
                                << QStringLiteral("Agent: 已停止")
                                << QStringLiteral("云端: 未连接");
    QTest::newRow("trailing space")
        << QStringLiteral("online ") << QStringLiteral("Bridge: 已停止")
        << QStringLiteral("Agent: 已停止") << QStringLiteral("云端: 未连接");
    QTest::newRow("default") << QStringLiteral("stopped") << QStringLiteral("Bridge: 已停止")
                             << QStringLiteral("Agent: 已停止") << QStringLiteral("云端: 未连接");
}

void TestStatusText::serviceLines() {
    QFETCH(QString, value);
    ServiceSnapshot s;
    s.bridge = s.agent = s.hub = value;
    QTEST(StatusText::bridgeLine(s), "bridge");
    QTEST(StatusText::agentLine(s), "agent");
    QTEST(StatusText::hubLine(s), "hub");
}

void TestStatusText::memory_data() {
    QTest::addColumn<qint64>("bridge");
    QTest::addColumn<qint64>("agent");
    QTest::addColumn<QString>("line");
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    const QString zero = QStringLiteral("当前占用: 0 MB");
    QTest::newRow("zero") << qint64(0) << qint64(0) << zero;
    QTest::newRow("511 KB rounds down") << qint64(511) << qint64(0) << zero;
    QTest::newRow("512 KB rounds half up")
        << qint64(256) << qint64(256) << QStringLiteral("当前占用: 约 1 MB");
    QTest::newRow("1535 KB") << qint64(1535) << qint64(0) << QStringLiteral("当前占用: 约 1 MB");
    QTest::newRow("1536 KB") << qint64(0) << qint64(1536) << QStringLiteral("当前占用: 约 2 MB");
    QTest::newRow("50 MB + 20 MB")
        << qint64(50 * 1024) << qint64(20 * 1024) << QStringLiteral("当前占用: 约 70 MB");
    QTest::newRow("negative total") << qint64(-5000) << qint64(100) << zero;
    QTest::newRow("negative half") << qint64(-512) << qint64(0) << zero;
    QTest::newRow("max alone") << max << qint64(0)
                               << QStringLiteral("当前占用: 约 9007199254740992 MB");
    // The sum leaves the 64-bit range: it must neither wrap to a negative
    // "0 MB" nor be undefined.
    QTest::newRow("sum beyond 64 bits")
        << max << max << QStringLiteral("当前占用: 约 18014398509481984 MB");
    QTest::newRow("min plus min") << min << min << zero;
    QTest::newRow("max plus min") << max << min << zero;
}

void TestStatusText::memory() {
    QFETCH(qint64, bridge);
    QFETCH(qint64, agent);
    QTEST(StatusText::memoryLine(bridge, agent), "line");
}

QTEST_GUILESS_MAIN(TestStatusText)
#include "tst_statustext.moc"
