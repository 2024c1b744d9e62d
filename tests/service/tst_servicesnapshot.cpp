// Status report parsing, the derived state, and the shared text rules.
#include "core/ServiceSnapshot.h"
#include "core/TextRules.h"

#include <QTest>
#include <limits>

Q_DECLARE_METATYPE(RemoteState)

class TestServiceSnapshot : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parse_data();
    void parse();
    void memoryValue_data();
    void memoryValue();
    void trimming_data();
    void trimming();
    void lineSplitting_data();
    void lineSplitting();
    void strictUtf8_data();
    void strictUtf8();
};

void TestServiceSnapshot::parse_data() {
    QTest::addColumn<QString>("report");
    QTest::addColumn<QString>("desired");
    QTest::addColumn<QString>("bridge");
    QTest::addColumn<QString>("agent");
    QTest::addColumn<QString>("hub");
    QTest::addColumn<RemoteState>("state");

    const QString en = QStringLiteral("enabled"), st = QStringLiteral("stopped"),
                  off = QStringLiteral("offline"), on = QStringLiteral("online");
    QTest::newRow("empty") << QString() << en << st << st << off << RemoteState::failed;
    QTest::newRow("disabled wins over online")
        << QStringLiteral("desired=disabled\nbridge=online\nagent=online\nhub=online")
        << QStringLiteral("disabled") << on << on << on << RemoteState::stopped;
    QTest::newRow("all online, no desired")
        << QStringLiteral("bridge=online\nagent=online\nhub=online") << en << on << on << on
        << RemoteState::linked;
    QTest::newRow("hub offline") << QStringLiteral("bridge=online\nagent=online\nhub=offline") << en
                                 << on << on << off << RemoteState::connecting;
    QTest::newRow("agent alone") << QStringLiteral("agent=online") << en << st << on << off
                                 << RemoteState::connecting;
    QTest::newRow("hub alone is not enough") << QStringLiteral("desired=enabled\nhub=online") << en
                                             << st << st << on << RemoteState::failed;
    QTest::newRow("letter case and spaces count")
        << QStringLiteral("bridge=Online\nagent=online \n desired=disabled") << en
        << QStringLiteral("Online") << QStringLiteral("online ") << off << RemoteState::failed;
    QTest::newRow("last occurrence wins") << QStringLiteral("bridge=online\nbridge=stopped") << en
                                          << st << st << off << RemoteState::failed;
    QTest::newRow("value keeps later equals")
        << QStringLiteral("hub=online=yes") << en << st << st << QStringLiteral("online=yes")
        << RemoteState::failed;
    QTest::newRow("empty value and no equals ignored")
        << QStringLiteral("bridge=\nagent\n\n\nhub=online") << en << st << st << on
        << RemoteState::failed;
    QTest::newRow("leading equals dropped")
        << QStringLiteral("=desired=disabled") << QStringLiteral("disabled") << st << st << off
        << RemoteState::stopped;
    QTest::newRow("double equals") << QStringLiteral("desired==x") << QStringLiteral("=x") << st
                                   << st << off << RemoteState::failed;
    QTest::newRow("crlf report is one line")
        << QStringLiteral("bridge=online\r\nagent=online\r\nhub=online\r\n") << en
        << QStringLiteral("online\r\nagent=online\r\nhub=online\r\n") << st << off
        << RemoteState::failed;
    QTest::newRow("lone carriage return stays in the value")
        << QStringLiteral("bridge=online\r\n\nagent=online\r") << en << QStringLiteral("online\r\n")
        << QStringLiteral("online\r") << off << RemoteState::failed;
    QTest::newRow("unknown keys ignored") << QStringLiteral("Bridge=online\nfoo=bar\nagent=online")
                                          << en << st << on << off << RemoteState::connecting;
    QTest::newRow("unicode values kept") << QStringLiteral("hub=在线\u3000") << en << st << st
                                         << QStringLiteral("在线\u3000") << RemoteState::failed;
}

void TestServiceSnapshot::parse() {
    QFETCH(QString, report);
    const ServiceSnapshot s = ServiceSnapshot::parse(report);
    QTEST(s.desired, "desired");
    QTEST(s.bridge, "bridge");
    QTEST(s.agent, "agent");
    QTEST(s.hub, "hub");
    QTEST(s.state(), "state");
    QVERIFY(s.state() != RemoteState::switching);
}

void TestServiceSnapshot::memoryValue_data() {
    QTest::addColumn<QString>("report");
    QTest::addColumn<qint64>("bridgeKB");
    QTest::addColumn<qint64>("agentKB");
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    auto row = [](const char* name, const char* value, qint64 expected) {
        QTest::newRow(name) << QStringLiteral("bridge_memory_kb=") + QString::fromUtf8(value)
                            << expected << qint64(0);
    };
    row("plain", "512", 512);
    row("plus", "+7", 7);
    row("minus", "-5", -5);
    row("minus zero", "-0", 0);
    row("leading zeros", "000123", 123);
    row("suffix", "12x", 0);
    row("decimal", "1.5", 0);
    row("leading space", " 12", 0);
    row("trailing space", "12 ", 0);
    row("lone plus", "+", 0);
    row("lone minus", "-", 0);
    row("two signs", "+-3", 0);
    row("fullwidth digits", "１２", 0);
    row("max", "9223372036854775807", max);
    row("one above max", "9223372036854775808", 0);
    row("min", "-9223372036854775808", min);
    row("one below min", "-9223372036854775809", 0);
    row("far beyond", "99999999999999999999999", 0);
    QTest::newRow("later unreadable value resets to zero")
        << QStringLiteral("agent_memory_kb=100\nagent_memory_kb=oops") << qint64(0) << qint64(0);
    QTest::newRow("both keys") << QStringLiteral("agent_memory_kb=256\nbridge_memory_kb=512")
                               << qint64(512) << qint64(256);
}

void TestServiceSnapshot::memoryValue() {
    QFETCH(QString, report);
    const ServiceSnapshot s = ServiceSnapshot::parse(report);
    QTEST(s.bridgeMemoryKB, "bridgeKB");
    QTEST(s.agentMemoryKB, "agentKB");
}

void TestServiceSnapshot::trimming_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    QTest::newRow("ascii") << QStringLiteral(" \t\n x y \r\n") << QStringLiteral("x y");
    QTest::newRow("ideographic space")
        << QStringLiteral("\u3000abc\u3000") << QStringLiteral("abc");
    QTest::newRow("line and paragraph separators")
        << QStringLiteral("\u2028a\u2029") << QStringLiteral("a");
    QTest::newRow("nbsp and next line") << QStringLiteral("\u00a0a\u0085") << QStringLiteral("a");
    QTest::newRow("zero width space is not white")
        << QStringLiteral("\u200ba") << QStringLiteral("\u200ba");
    QTest::newRow("only blanks") << QStringLiteral(" \u3000\n") << QString();
}

void TestServiceSnapshot::trimming() {
    QFETCH(QString, input);
    QTEST(text::trimmed(input), "expected");
}

void TestServiceSnapshot::lineSplitting_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("plain") << QStringLiteral("a\nb\n")
                           << QStringList{QStringLiteral("a"), QStringLiteral("b")};
    QTest::newRow("empty lines dropped")
        << QStringLiteral("\n\na\n\n") << QStringList{QStringLiteral("a")};
    QTest::newRow("crlf never breaks")
        << QStringLiteral("a\r\nb") << QStringList{QStringLiteral("a\r\nb")};
    QTest::newRow("cr then crlf") << QStringLiteral("a\r\r\nb\n\rc")
                                  << QStringList{QStringLiteral("a\r\r\nb"), QStringLiteral("\rc")};
    QTest::newRow("leading lf after cr line")
        << QStringLiteral("\r\n") << QStringList{QStringLiteral("\r\n")};
}

void TestServiceSnapshot::lineSplitting() {
    QFETCH(QString, input);
    QStringList got;
    for (QStringView l : text::splitLines(input))
        got << l.toString();
    QTEST(got, "lines");
}

void TestServiceSnapshot::strictUtf8_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("valid");
    QTest::newRow("ascii") << QByteArray("abc") << true;
    QTest::newRow("cjk") << QByteArray("\xe7\x8a\xb6\xe6\x80\x81") << true;
    QTest::newRow("nul is valid") << QByteArray("a\0b", 3) << true;
    QTest::newRow("lone continuation") << QByteArray("a\x80") << false;
    QTest::newRow("truncated sequence") << QByteArray("\xe7\x8a") << false;
    QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << false;
    QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << false;
    QTest::newRow("beyond U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << false;
    QTest::newRow("latin-1") << QByteArray("caf\xe9") << false;
}

void TestServiceSnapshot::strictUtf8() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, valid);
    const auto decoded = text::decodeUtf8(bytes);
    QCOMPARE(decoded.has_value(), valid);
    if (valid)
        QCOMPARE(decoded->toUtf8(), bytes);
    else
        QVERIFY(text::decodeUtf8OrEmpty(bytes).isEmpty());
}

QTEST_GUILESS_MAIN(TestServiceSnapshot)
#include "tst_servicesnapshot.moc"
