// The rules both front ends share, one table each, and the one table that
// pins the user-visible words; every other test uses the constants.
#include "app/AppTexts.h"
#include "core/PairingLink.h"
#include "core/PairingOutcome.h"
#include "core/PairingTexts.h"
#include "core/Presentation.h"
#include "core/StatusText.h"

#include <QTest>
#include <limits>

using namespace Qt::StringLiterals;
using namespace StatusText;
using Texts = QStringList;

namespace {

ServiceSnapshot snapshot(const QString& fields) {
    const Texts f = fields.split(u' ');
    return {f[0], f[1], f[2], f[3], 0, 0};
}

// Which of the bridge, agent and hub lines read as up (1), down (0) or
// neither (-), the commands that can be chosen, and the icon.
Texts shown(const Presentation& p) {
    QString up;
    for (const auto& [line, prefix, on, off] :
         {std::tuple{p.bridgeLine, bridgePrefix, running, stopped},
          std::tuple{p.agentLine, agentPrefix, running, stopped},
          std::tuple{p.hubLine, hubPrefix, hubLinked, hubNotConnected}})
        up += line == prefix + on ? u'1' : line == prefix + off ? u'0' : u'-';
    const char* tints[] = {"grey", "yellow", "green", "red"};
    return {p.stateLine, up,
            QString::number(p.canStart) + QString::number(p.canStop) +
                QString::number(p.canRestart),
            p.symbol + u'/' + QLatin1StringView(tints[int(p.tint)])};
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

    void presentation_data() {
        QTest::addColumn<Presentation>("presentation");
        QTest::addColumn<Texts>("expected");
        const QString active = StatusSymbol::active + u'/', stop = StatusSymbol::stopped + u'/';
        const auto of = [](const char* fields, bool busy) {
            return Presentation::of(snapshot(QString::fromLatin1(fields)), busy);
        };
        QTest::newRow("checking") << Presentation::checking()
                                  << Texts{stateChecking, u"---"_s, u"111"_s, active + u"yellow"};
        QTest::newRow("unpaired") << Presentation::unpaired()
                                  << Texts{stateWaitingForPairing, u"--0"_s, u"000"_s,
                                           stop + u"grey"};
        QTest::newRow("linked") << of("enabled online online online", false)
                                << Texts{stateLinked, u"111"_s, u"011"_s, active + u"green"};
        QTest::newRow("busy") << of("enabled online online online", true)
                              << Texts{stateSwitching, u"111"_s, u"000"_s, active + u"yellow"};
        QTest::newRow("disabled") << of("disabled stopped x online", false)
                                  << Texts{stateStopped, u"001"_s, u"101"_s, stop + u"grey"};
        QTest::newRow("disabled, agent up")
            << of("disabled x online x", false)
            << Texts{stateStopped, u"010"_s, u"111"_s, stop + u"grey"};
        QTest::newRow("disabled, bridge up")
            << of("disabled online x x", false)
            << Texts{stateStopped, u"100"_s, u"111"_s, stop + u"grey"};
        QTest::newRow("connecting")
            << of("enabled stopped online offline", false)
            << Texts{stateConnecting, u"010"_s, u"111"_s, active + u"yellow"};
        QTest::newRow("other case, blank")
            << of("enabled Online online\t ONLINE", false)
            << Texts{stateFailed, u"000"_s, u"111"_s, StatusSymbol::failed + u"/red"};
    }
    void presentation() {
        QFETCH(Presentation, presentation);
        QTEST(shown(presentation), "expected");
    }

    void stateNames() { // korvanctl's machine-readable names
        Texts names;
        for (int state = 0; state < 5; ++state)
            names << remoteStateName(RemoteState(state));
        QCOMPARE(names.join(u' '), u"stopped switching linked connecting failed"_s);
    }

    void memory_data() {
        QTest::addColumn<qint64>("bridge");
        QTest::addColumn<qint64>("agent");
        QTest::addColumn<QString>("megabytes"); // empty: the zero line
        constexpr qint64 max = std::numeric_limits<qint64>::max();
        QTest::newRow("511 KB") << qint64(511) << qint64(0) << QString();
        QTest::newRow("512 KB rounds up") << qint64(256) << qint64(256) << u"1"_s;
        QTest::newRow("1535 KB") << qint64(1535) << qint64(0) << u"1"_s;
        QTest::newRow("1536 KB") << qint64(0) << qint64(1536) << u"2"_s;
        QTest::newRow("negative half") << qint64(-512) << qint64(0) << QString();
        QTest::newRow("beyond 64 bits") << max << max << u"18014398509481984"_s;
        QTest::newRow("max plus min") << max << std::numeric_limits<qint64>::min() << QString();
    }
    void memory() {
        QFETCH(qint64, bridge);
        QFETCH(qint64, agent);
        QFETCH(QString, megabytes);
        QCOMPARE(memoryLine(bridge, agent),
                 megabytes.isEmpty() ? memoryZero : memoryAboutPrefix + megabytes + memorySuffix);
    }

    // The fields start as "H" and "C"; a link fills what it carries.
    void links_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("isKorvan");
        QTest::addColumn<QString>("fields"); // hub|code
        QTest::newRow("both") << "korvan://p?hub=https://h&code=ab-cd" << true << "https://h|AB-CD";
        QTest::newRow("upper-case scheme, no host") << "KorVan:?code=x" << true << "H|X";
        QTest::newRow("no query") << "korvan://pair" << true << "H|C";
        QTest::newRow("empty, or no value") << "korvan://p?hub=&code" << true << "H|C";
        QTest::newRow("percent-encoding, plus and blanks kept")
            << "korvan://p?hub=%20http%3A%2F%2Fh%2Fa%20b&code=%E9%85%8D+1" << true
            << " http://h/a b|配+1";
        QTest::newRow("names are exact") << "korvan://p?HUB=a&Code=b&hubx=c" << true << "H|C";
        QTest::newRow("last value wins, not an empty one")
            << "korvan://p?code=a&code=b&code=" << true << "H|B";
        QTest::newRow("not UTF-8; byte-order mark dropped")
            << "korvan://p?code=%FF&hub=%EF%BB%BFh" << true << "h|C";
        QTest::newRow("unreadable") << "korvan://[bad?code=x" << true << "H|C";
        QTest::newRow("korvan-like scheme") << "korvanx://p" << false << "H|C";
    }
    void links() {
        QFETCH(QString, link);
        QTEST(PairingLink::isKorvanLink(QUrl(link)), "isKorvan");
        const PairingFields fields = PairingLink::prefill({u"H"_s, u"C"_s}, QUrl(link));
        QTEST(QString(fields.hub + u'|' + fields.code), "fields");
    }

    void failureLines_data() {
        QTest::addColumn<CommandResult>("result");
        QTest::addColumn<QString>("line");
        const QString generic = PairingTexts::genericFailure;
        QString combining, flags;
        for (int i = 0; i < 250; ++i)
            combining += u"e\u0301"_s; // one character, two code units
        for (int i = 0; i < 241; ++i)
            flags += u"\U0001F1E8\U0001F1F3"_s; // one flag, four code units
        QTest::newRow("blank error hides output") << CommandResult{u"o"_s, u" \n"_s, 1} << generic;
        QTest::newRow("last 240") << CommandResult{{}, QString(10, u'a') + QString(240, u'b'), 1}
                                  << QString(240, u'b');
        QTest::newRow("exactly 240")
            << CommandResult{{}, QString(240, u'c'), 1} << QString(240, u'c');
        QTest::newRow("combining marks") << CommandResult{{}, combining, 1} << combining.right(480);
        QTest::newRow("flags") << CommandResult{{}, flags, 1} << flags.mid(4);
    }
    void failureLines() {
        QFETCH(CommandResult, result);
        QTEST(PairingOutcome::failureLine(result), "line");
    }
};

QTEST_GUILESS_MAIN(CoreTest)
#include "tst_core.moc"
