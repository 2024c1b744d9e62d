// Shared rules, one table each, in the words the user sees.
#include "core/PairingLink.h"
#include "core/Presentation.h"
#include "core/StatusText.h"
#include "core/TextRules.h"

#include <QTest>
#include <limits>

using namespace Qt::StringLiterals;
using namespace StatusText;
using Texts = QStringList;

namespace {

// "desired bridge agent hub", no memory.
ServiceSnapshot snapshot(const char* fields) {
    const Texts f = QString::fromLatin1(fields).split(u' ');
    return {f[0], f[1], f[2], f[3], 0, 0};
}

} // namespace

class CoreTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The information lines, the commands that can be chosen, and the tinted icon.
    void presentation_data() {
        QTest::addColumn<Presentation>("presentation");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("bridge");
        QTest::addColumn<QString>("agent");
        QTest::addColumn<QString>("hub");
        QTest::addColumn<bool>("canStart");
        QTest::addColumn<bool>("canStop");
        QTest::addColumn<bool>("canRestart");
        QTest::addColumn<QString>("symbol");
        QTest::addColumn<SymbolTint>("tint");
        const QString bridgeUp = u"Bridge: 运行中"_s, bridgeDown = u"Bridge: 已停止"_s;
        const QString agentUp = u"Agent: 运行中"_s, agentDown = u"Agent: 已停止"_s;
        const QString hubUp = u"云端: 已联动"_s, hubDown = u"云端: 未连接"_s;
        const QString stoppedState = u"状态: 已停止"_s, power = u"power.circle"_s;
        const QString antenna = u"antenna.radiowaves.left.and.right.circle.fill"_s;
        const auto of = [](const char* fields, bool busy = false) {
            return Presentation::of(snapshot(fields), busy);
        };
        using enum SymbolTint;
        QTest::newRow("unpaired") << Presentation::unpaired() << u"状态: 等待配对"_s
                                  << u"Bridge: 尚未安装"_s << u"Agent: 尚未安装"_s << hubDown
                                  << false << false << false << power << grey;
        QTest::newRow("checking") << Presentation::checking() << u"正在检查状态..."_s
                                  << u"Bridge: 检查中"_s << u"Agent: 检查中"_s << u"云端: 检查中"_s
                                  << true << true << true << antenna << yellow;
        QTest::newRow("linked") << of("enabled online online online") << u"状态: 已联动"_s
                                << bridgeUp << agentUp << hubUp << false << true << true << antenna
                                << green;
        QTest::newRow("busy") << of("enabled online online online", true) << u"状态: 正在切换..."_s
                              << bridgeUp << agentUp << hubUp << false << false << false << antenna
                              << yellow;
        QTest::newRow("disabled") << of("disabled stopped x online") << stoppedState << bridgeDown
                                  << agentDown << hubUp << true << false << true << power << grey;
        QTest::newRow("disabled, agent up")
            << of("disabled x online x") << stoppedState << bridgeDown << agentUp << hubDown << true
            << true << true << power << grey;
        QTest::newRow("disabled, bridge up")
            << of("disabled online x x") << stoppedState << bridgeUp << agentDown << hubDown << true
            << true << true << power << grey;
        QTest::newRow("connecting")
            << of("enabled stopped online offline") << u"状态: 正在连接"_s << bridgeDown << agentUp
            << hubDown << true << true << true << antenna << yellow;
        QTest::newRow("failed: other case, blank")
            << of("enabled Online online\t ONLINE") << u"状态: 启动失败"_s << bridgeDown
            << agentDown << hubDown << true << true << true << u"exclamationmark.circle.fill"_s
            << red;
    }
    void presentation() {
        QFETCH(Presentation, presentation);
        QTEST(presentation.stateLine, "state");
        QTEST(presentation.bridgeLine, "bridge");
        QTEST(presentation.agentLine, "agent");
        QTEST(presentation.hubLine, "hub");
        QTEST(presentation.canStart, "canStart");
        QTEST(presentation.canStop, "canStop");
        QTEST(presentation.canRestart, "canRestart");
        QTEST(presentation.symbol, "symbol");
        QTEST(presentation.tint, "tint");
    }

    // Bridge and agent kilobytes added up, in megabytes rounded half away from zero.
    void memory_data() {
        QTest::addColumn<qint64>("bridge");
        QTest::addColumn<qint64>("agent");
        QTest::addColumn<QString>("line");
        constexpr qint64 max = std::numeric_limits<qint64>::max();
        const QString zero = u"当前占用: 0 MB"_s;
        QTest::newRow("half a megabyte") << qint64(256) << qint64(256) << u"当前占用: 约 1 MB"_s;
        QTest::newRow("just under half") << qint64(511) << qint64(0) << zero;
        QTest::newRow("negative") << qint64(-512) << qint64(0) << zero;
        QTest::newRow("past the 64-bit range")
            << max << max << u"当前占用: 约 18014398509481984 MB"_s;
        QTest::newRow("both ends of the range")
            << max << std::numeric_limits<qint64>::min() << zero;
    }
    void memory() {
        QFETCH(qint64, bridge);
        QFETCH(qint64, agent);
        QTEST(memoryLine(bridge, agent), "line");
    }

    // The fields start as "H" and "C"; a link fills what it carries.
    void links_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("isKorvan");
        QTest::addColumn<QString>("hub");
        QTest::addColumn<QString>("code");
        QTest::newRow("both") << "korvan://p?hub=https://h&code=ab-cd" << true << u"https://h"_s
                              << u"AB-CD"_s;
        QTest::newRow("upper-case scheme, no host") << "KorVan:?code=x" << true << u"H"_s << u"X"_s;
        QTest::newRow("empty, or no value") << "korvan://p?hub=&code" << true << u"H"_s << u"C"_s;
        QTest::newRow("percent-encoding, plus and blanks kept")
            << "korvan://p?hub=%20http%3A%2F%2Fh%2Fa%20b&code=%E9%85%8D+1" << true
            << u" http://h/a b"_s << u"配+1"_s;
        QTest::newRow("names are exact")
            << "korvan://p?HUB=a&Code=b&hubx=c" << true << u"H"_s << u"C"_s;
        QTest::newRow("last value wins, not an empty one")
            << "korvan://p?code=a&code=b&code=" << true << u"H"_s << u"B"_s;
        QTest::newRow("not UTF-8; byte-order mark dropped")
            << "korvan://p?code=%FF&hub=%EF%BB%BFh" << true << u"h"_s << u"C"_s;
        QTest::newRow("unreadable") << "korvan://[bad?code=x" << true << u"H"_s << u"C"_s;
        QTest::newRow("korvan-like scheme") << "korvanx://p" << false << u"H"_s << u"C"_s;
    }
    void links() {
        QFETCH(QString, link);
        QTEST(PairingLink::isKorvanLink(QUrl(link)), "isKorvan");
        const PairingFields fields = PairingLink::prefill({u"H"_s, u"C"_s}, QUrl(link));
        QTEST(fields.hub, "hub");
        QTEST(fields.code, "code");
    }

    void alertExcerpt_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        const auto lines = [](int from, int to, const QStringList& breaks) {
            QString s = QString::number(from);
            for (int n = from + 1; n <= to; ++n)
                s += breaks.at(n % breaks.size()) + QString::number(n);
            return s;
        };
        const QStringList odd{u"\r"_s, u"\v"_s, u"\f"_s, u"\u0085"_s, u"\u2028"_s, u"\u2029"_s};
        const QString e = u"e\u0301"_s, x = u"x"_s.repeated(200), cut = u"\n\u2026\n"_s;
        QTest::newRow("20 by CR LF") << lines(1, 20, {u"\r\n"_s}) << lines(1, 20, {u"\r\n"_s});
        QTest::newRow("21 lines by other breaks")
            << lines(1, 21, odd) << lines(1, 10, odd) + cut + lines(12, 21, odd);
        QTest::newRow("2,000 clusters") << e.repeated(2000) << e.repeated(2000);
        QTest::newRow("2,001 clusters, kept whole")
            << e.repeated(2001) << e.repeated(1000) + u'\u2026' + e.repeated(1000);
        QTest::newRow("lines, then clusters")
            << QStringList(21, x).join(u'\n')
            << QString(x + u'\n').repeated(4) + x.left(196) + u'\u2026' + x.left(196) +
                   QString(u'\n' + x).repeated(4);
        QTest::newRow("one cluster past the budget")
            << u'a' + u"\u0301"_s.repeated(40000) << u"\u2026"_s;
    }
    void alertExcerpt() {
        QFETCH(QString, text);
        QTEST(text::alertExcerpt(text), "shown");
    }
};

QTEST_GUILESS_MAIN(CoreTest)
#include "tst_core.moc"
