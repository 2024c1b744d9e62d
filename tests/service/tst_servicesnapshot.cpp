// Status report parsing and the derived state.
#include "core/ServiceSnapshot.h"

#include <QTest>

class TestServiceSnapshot : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parse_data();
    void parse();
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
﻿desired=disabled\nhub=﻿x|enabled|stopped|stopped|﻿x|0|0|failed
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

QTEST_GUILESS_MAIN(TestServiceSnapshot)
#include "tst_servicesnapshot.moc"
