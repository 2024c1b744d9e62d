// Status report parsing, the derived state, and strict UTF-8 decoding.
#include "core/ServiceSnapshot.h"
#include "core/TextRules.h"

#include <QTest>

class TestServiceSnapshot : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parse_data();
    void parse();
    void strictUtf8_data();
    void strictUtf8();
};

// report | desired | bridge | agent | hub | bridge KB | agent KB | state, with
// \n and \r written as such.
static const char kReports[] = R"(|enabled|stopped|stopped|offline|0|0|failed
desired=disabled\nbridge=online\nagent=online\nhub=online|disabled|online|online|online|0|0|stopped
bridge=online\nagent=online\nhub=online|enabled|online|online|online|0|0|linked
bridge=online\nagent=online\nhub=offline|enabled|online|online|offline|0|0|connecting
desired=enabled\nhub=online|enabled|stopped|stopped|online|0|0|failed
bridge=Online\nagent=online \n desired=disabled|enabled|Online|online |offline|0|0|failed
bridge=online\nbridge=stopped\nBridge=online\nagent|enabled|stopped|stopped|offline|0|0|failed
hub=online=yes\nagent=\n\n=desired=x|x|stopped|stopped|online=yes|0|0|failed
desired==x|=x|stopped|stopped|offline|0|0|failed
bridge=online\r\nagent=online\r\nhub=online|enabled|online\r\nagent=online\r\nhub=online|stopped|offline|0|0|failed
hub=在线　|enabled|stopped|stopped|在线　|0|0|failed
bridge_memory_kb=+7\nagent_memory_kb=00512|enabled|stopped|stopped|offline|7|512|failed
bridge_memory_kb=12x\nagent_memory_kb= 1|enabled|stopped|stopped|offline|0|0|failed
bridge_memory_kb=+\nagent_memory_kb=１２|enabled|stopped|stopped|offline|0|0|failed
bridge_memory_kb=9223372036854775807\nagent_memory_kb=-9223372036854775808|enabled|stopped|stopped|offline|9223372036854775807|-9223372036854775808|failed
bridge_memory_kb=9223372036854775808\nagent_memory_kb=-9223372036854775809|enabled|stopped|stopped|offline|0|0|failed
agent_memory_kb=100\nagent_memory_kb=oops|enabled|stopped|stopped|offline|0|0|failed)";

void TestServiceSnapshot::parse_data() {
    QTest::addColumn<QString>("report");
    QTest::addColumn<QString>("expected");
    const auto unescape = [](QString s) {
        return s.replace(QStringLiteral("\\n"), QStringLiteral("\n"))
            .replace(QStringLiteral("\\r"), QStringLiteral("\r"));
    };
    for (const QString& line : QString::fromUtf8(kReports).split(u'\n')) {
        const qsizetype bar = line.indexOf(u'|');
        QTest::newRow(qPrintable(line.left(bar)))
            << unescape(line.left(bar)) << unescape(line.sliced(bar + 1));
    }
}

void TestServiceSnapshot::parse() {
    QFETCH(QString, report);
    const ServiceSnapshot s = ServiceSnapshot::parse(report);
    QTEST(QStringList({s.desired, s.bridge, s.agent, s.hub, QString::number(s.bridgeMemoryKB),
                       QString::number(s.agentMemoryKB), remoteStateName(s.state())})
              .join(u'|'),
          "expected");
}

void TestServiceSnapshot::strictUtf8_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("valid");
    QTest::newRow("ascii, CJK, NUL, U+10FFFF")
        << QByteArray("ab\xe7\x8a\xb6\0\xf4\x8f\xbf\xbf", 10) << true;
    QTest::newRow("byte-order mark kept") << QByteArray("\xef\xbb\xbfx") << true;
    QTest::newRow("ascii run, lone continuation") << QByteArray("abcdefghij\x80") << false;
    QTest::newRow("cut sequence") << QByteArray("\xe7\x8a") << false;
    QTest::newRow("overlong") << QByteArray("\xe0\x9f\xbf") << false;
    QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << false;
    QTest::newRow("past U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << false;
}

void TestServiceSnapshot::strictUtf8() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, valid);
    QString text = QStringLiteral("kept");
    QCOMPARE(text::appendUtf8(text, bytes), valid);
    QCOMPARE(text.toUtf8(), valid ? "kept" + bytes : QByteArray("kept"));
    QCOMPARE(text::decodeUtf8(bytes).has_value(), valid);
}

QTEST_GUILESS_MAIN(TestServiceSnapshot)
#include "tst_servicesnapshot.moc"
