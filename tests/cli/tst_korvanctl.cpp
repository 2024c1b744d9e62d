// korvanctl driven as a user or a script would: the real binary, real scripts.
#include "support/TestServiceRoot.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run korvanctl(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(KORVANCTL_PATH), args);
    if (!p.waitForFinished(30000))
        qFatal("korvanctl did not finish");
    if (p.exitStatus() != QProcess::NormalExit)
        qFatal("korvanctl crashed");
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

} // namespace

class TestKorvanctl : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void statusLines();
    void statusJson();
    void commands_data();
    void commands();
    void usage_data();
    void usage();
};

void TestKorvanctl::statusLines() {
    TestServiceRoot root;
    root.writeScript("printf 'bridge=online\\nagent=online\\nhub=online\\nbridge_memory_kb=51200\\n"
                     "agent_memory_kb=20480\\n'\n");
    const Run r = korvanctl({QStringLiteral("status")});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(QString::fromUtf8(r.out),
             QStringLiteral("状态: 已联动\nBridge: 运行中\nAgent: 运行中\n"
                            "云端: 已联动\n当前占用: 约 70 MB\n"));
    QCOMPARE(r.err, QByteArray());

    root.writeScript("exit 0\n", false); // missing script: the default report
    QCOMPARE(QString::fromUtf8(korvanctl({QStringLiteral("status")}).out),
             QStringLiteral(
                 "状态: 启动失败\nBridge: 已停止\nAgent: 已停止\n云端: 未连接\n当前占用: 0 MB\n"));
}

void TestKorvanctl::statusJson() {
    TestServiceRoot root;
    root.writeScript(
        "printf 'desired=disabled\\nbridge=on\"line\\nhub=\\xe4\\xba\\x91\\n"
        "bridge_memory_kb=9223372036854775807\\nagent_memory_kb=-9223372036854775808\\n'\n");
    root.writeFile(root.path() + QStringLiteral("/.env"),
                   "KORVAN_AGENT_HOST_ID=h\nKORVAN_AGENT_TOKEN=t\n");
    const Run r = korvanctl({QStringLiteral("status"), QStringLiteral("--json")});
    QCOMPARE(r.exitCode, 0);
    QVERIFY(r.out.endsWith('\n'));
    QCOMPARE(r.out.count('\n'), 1);
    // 64-bit values must survive exactly, not as doubles.
    QVERIFY2(r.out.contains("\"bridgeMemoryKB\":9223372036854775807"), r.out.constData());
    QVERIFY2(r.out.contains("\"agentMemoryKB\":-9223372036854775808"), r.out.constData());
    const QJsonObject o = QJsonDocument::fromJson(r.out).object();
    QCOMPARE(o.value(QStringLiteral("desired")).toString(), QStringLiteral("disabled"));
    QCOMPARE(o.value(QStringLiteral("bridge")).toString(), QStringLiteral("on\"line"));
    QCOMPARE(o.value(QStringLiteral("agent")).toString(), QStringLiteral("stopped"));
    QCOMPARE(o.value(QStringLiteral("hub")).toString(), QStringLiteral("云"));
    QCOMPARE(o.value(QStringLiteral("state")).toString(), QStringLiteral("stopped"));
    QCOMPARE(o.value(QStringLiteral("paired")).toBool(), true);
    QCOMPARE(o.value(QStringLiteral("serviceRoot")).toString(), root.path());
    QCOMPARE(o.keys().size(), 9);
}

void TestKorvanctl::commands_data() {
    QTest::addColumn<QString>("word");
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<bool>("executable");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    QTest::newRow("start, bytes unchanged")
        << QStringLiteral("start")
        << QByteArray("printf 'a\\n\\nb'; printf '\\xe9\\x94\\x99' >&2; exit 3") << true << 3
        << QByteArray("a\n\nb") << QByteArray("\xe9\x94\x99");
    QTest::newRow("stop echoes its word") << QStringLiteral("stop") << QByteArray("echo \"$1\"")
                                          << true << 0 << QByteArray("stop\n") << QByteArray();
    QTest::newRow("restart killed") << QStringLiteral("restart") << QByteArray("kill -KILL $$")
                                    << true << 9 << QByteArray() << QByteArray();
    QTest::newRow("missing script")
        << QStringLiteral("start") << QByteArray() << false << 127 << QByteArray()
        << QStringLiteral("找不到 Korvan 服务控制脚本，请先更新 Korvan。").toUtf8();
}

void TestKorvanctl::commands() {
    QFETCH(QString, word);
    QFETCH(QByteArray, script);
    QFETCH(bool, executable);
    TestServiceRoot root;
    root.writeScript(script + '\n', executable);
    const Run r = korvanctl({word});
    QTEST(r.exitCode, "exitCode");
    QTEST(r.out, "out");
    QTEST(r.err, "err");
}

void TestKorvanctl::usage_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("usageOnStdout");
    QTest::newRow("no arguments") << QStringList{} << 2 << false;
    QTest::newRow("unknown command") << QStringList{QStringLiteral("launch")} << 2 << false;
    QTest::newRow("extra argument")
        << QStringList{QStringLiteral("start"), QStringLiteral("now")} << 2 << false;
    QTest::newRow("unknown status option")
        << QStringList{QStringLiteral("status"), QStringLiteral("--xml")} << 2 << false;
    QTest::newRow("help") << QStringList{QStringLiteral("--help")} << 0 << true;
}

void TestKorvanctl::usage() {
    QFETCH(QStringList, args);
    QFETCH(bool, usageOnStdout);
    TestServiceRoot root;
    root.writeScript("touch \"$(dirname \"$0\")/ran\"\n");
    const Run r = korvanctl(args);
    QTEST(r.exitCode, "exitCode");
    QVERIFY((usageOnStdout ? r.out : r.err).startsWith("usage: korvanctl"));
    QVERIFY((usageOnStdout ? r.err : r.out).isEmpty());
    QVERIFY(!QFile::exists(root.path() + QStringLiteral("/scripts/ran")));
    const Run v = korvanctl({QStringLiteral("--version")});
    QCOMPARE(v.exitCode, 0);
    QVERIFY(v.out.startsWith("korvanctl "));
}

QTEST_GUILESS_MAIN(TestKorvanctl)
#include "tst_korvanctl.moc"
