// Shared rules, one table each, and the one table pinning the user-visible words.
#include "app/AppTexts.h"
#include "core/PairingLink.h"
#include "core/PairingTexts.h"
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
    void wording_data() {
        QTest::addColumn<Texts>("constants");
        QTest::addColumn<QString>("words"); // joined by "|"
        using namespace AppTexts;
        QTest::newRow("menu")
            << Texts{productName,      startTitle,     stopTitle,    restartTitle,
                     openMobileTitle,  openLocalTitle, pairingTitle, loginItemTitle,
                     stopAndQuitTitle, quitTitle,      errorMessage, errorButton,
                     controllerName,   localConsoleURL}
            << u"Korvan Remote|启动 Korvan Remote|停止并释放内存|重新启动|打开 Korvan 移动端|"
               u"打开本地控制台|连接账号与 Mac...|登录 Mac 时启动控制器|停止服务并退出|"
               u"退出控制器|Korvan 无法完成操作|知道了|Korvan Controller|http://127.0.0.1:8796"_s;
        QTest::newRow("lines")
            << Texts{stateStopped, stateSwitching,  stateLinked, stateConnecting,   stateFailed,
                     bridgePrefix, agentPrefix,     hubPrefix,   running,           stopped,
                     hubLinked,    hubNotConnected, memoryZero,  memoryAboutPrefix, memorySuffix}
            << u"状态: 已停止|状态: 正在切换...|状态: 已联动|状态: 正在连接|状态: 启动失败|"
               u"Bridge: |Agent: |云端: |运行中|已停止|已联动|未连接|当前占用: 0 MB|"
               u"当前占用: 约 | MB"_s;
        QTest::newRow("lines before a report, or a pairing")
            << Texts{stateChecking,      bridgeChecking,    agentChecking,
                     hubChecking,        memoryUnknown,     stateWaitingForPairing,
                     bridgeNotInstalled, agentNotInstalled, hubNotConnectedLine}
            << u"正在检查状态...|Bridge: 检查中|Agent: 检查中|云端: 检查中|当前占用: --|"
               u"状态: 等待配对|Bridge: 尚未安装|Agent: 尚未安装|云端: 未连接"_s;
        using namespace PairingTexts;
        QTest::newRow("pairing")
            << Texts{windowTitle,   title,  subtitle,      hubCaption, codeCaption, codePlaceholder,
                     connectButton, prompt, alreadyPaired, emptyCode,  success,     genericFailure}
            << u"Korvan Controller|连接 Korvan|把这台 Mac 与当前 Korvan 账号一对一绑定。|"
               u"Korvan 地址|一次性配对码|ABCD-EFGH-IJKL|连接这台 Mac|"
               u"输入移动端生成的一次性配对码。|"
               u"这台 Mac 已经配对。只有管理员解除旧绑定后，新的配对码才会生效。|"
               u"请先输入一次性配对码。|配对成功，Korvan Remote 正在启动。|"
               u"配对失败，请确认配对码仍然有效。"_s;
    }
    void wording() {
        QFETCH(Texts, constants);
        QTEST(constants.join(u'|'), "words");
    }

    // The information lines and the commands that can be chosen.
    void presentation_data() {
        QTest::addColumn<Presentation>("presentation");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("bridge");
        QTest::addColumn<QString>("agent");
        QTest::addColumn<QString>("hub");
        QTest::addColumn<bool>("canStart");
        QTest::addColumn<bool>("canStop");
        QTest::addColumn<bool>("canRestart");
        const QString bridgeUp = bridgePrefix + running, bridgeDown = bridgePrefix + stopped;
        const QString agentUp = agentPrefix + running, agentDown = agentPrefix + stopped;
        const QString hubUp = hubPrefix + hubLinked, hubDown = hubPrefix + hubNotConnected;
        const auto of = [](const char* fields, bool busy = false) {
            return Presentation::of(snapshot(fields), busy);
        };
        QTest::newRow("unpaired") << Presentation::unpaired() << stateWaitingForPairing
                                  << bridgeNotInstalled << agentNotInstalled << hubDown << false
                                  << false << false;
        QTest::newRow("linked") << of("enabled online online online") << stateLinked << bridgeUp
                                << agentUp << hubUp << false << true << true;
        QTest::newRow("busy") << of("enabled online online online", true) << stateSwitching
                              << bridgeUp << agentUp << hubUp << false << false << false;
        QTest::newRow("disabled") << of("disabled stopped x online") << stateStopped << bridgeDown
                                  << agentDown << hubUp << true << false << true;
        QTest::newRow("disabled, agent up")
            << of("disabled x online x") << stateStopped << bridgeDown << agentUp << hubDown << true
            << true << true;
        QTest::newRow("disabled, bridge up")
            << of("disabled online x x") << stateStopped << bridgeUp << agentDown << hubDown << true
            << true << true;
        QTest::newRow("connecting") << of("enabled stopped online offline") << stateConnecting
                                    << bridgeDown << agentUp << hubDown << true << true << true;
        QTest::newRow("other case, blank")
            << of("enabled Online online\t ONLINE") << stateFailed << bridgeDown << agentDown
            << hubDown << true << true << true;
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
    }

    // The tinted icon of each displayed state.
    void icon_data() {
        QTest::addColumn<Presentation>("presentation");
        QTest::addColumn<QString>("symbol");
        QTest::addColumn<SymbolTint>("tint");
        const QString power = u"power.circle"_s;
        const QString antenna = u"antenna.radiowaves.left.and.right.circle.fill"_s;
        const auto of = [](const char* fields, bool busy = false) {
            return Presentation::of(snapshot(fields), busy);
        };
        QTest::newRow("stopped") << of("disabled stopped stopped offline") << power
                                 << SymbolTint::grey;
        QTest::newRow("switching")
            << of("enabled online online online", true) << antenna << SymbolTint::yellow;
        QTest::newRow("linked") << of("enabled online online online") << antenna
                                << SymbolTint::green;
        QTest::newRow("connecting")
            << of("enabled stopped online offline") << antenna << SymbolTint::yellow;
        QTest::newRow("failed") << of("enabled stopped stopped offline")
                                << u"exclamationmark.circle.fill"_s << SymbolTint::red;
        QTest::newRow("checking") << Presentation::checking() << antenna << SymbolTint::yellow;
        QTest::newRow("unpaired") << Presentation::unpaired() << power << SymbolTint::grey;
    }
    void icon() {
        QFETCH(Presentation, presentation);
        QTEST(presentation.symbol, "symbol");
        QTEST(presentation.tint, "tint");
    }

    void memory() { // bridge and agent kilobytes, and the megabytes shown (none: the zero line)
        constexpr qint64 max = std::numeric_limits<qint64>::max();
        for (const auto& [bridge, agent, megabytes] :
             {std::tuple{qint64(256), qint64(256), u"1"_s},
              {qint64(-512), qint64(0), QString()},
              {max, max, u"18014398509481984"_s},
              {max, std::numeric_limits<qint64>::min(), QString()}})
            QCOMPARE(memoryLine(bridge, agent), megabytes.isEmpty()
                                                    ? memoryZero
                                                    : memoryAboutPrefix + megabytes + memorySuffix);
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
