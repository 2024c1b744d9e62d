// The pure rules both front ends share, one table each, and the one table
// that pins every user-visible word.
#include "app/AppTexts.h"
#include "core/PairingLink.h"
#include "core/PairingOutcome.h"
#include "core/PairingTexts.h"
#include "core/Presentation.h"
#include "core/StatusText.h"
#include "core/TextRules.h"

#include <QTest>
#include <QTextBoundaryFinder>
#include <limits>

using namespace Qt::StringLiterals;
using OptString = std::optional<QString>;

namespace {

ServiceSnapshot snapshot(const char* desired, const char* bridge, const char* agent,
                         const char* hub) {
    return {QString::fromUtf8(desired),
            QString::fromUtf8(bridge),
            QString::fromUtf8(agent),
            QString::fromUtf8(hub),
            0,
            0};
}

QStringList shown(const Presentation& p) {
    return {p.stateLine,
            p.bridgeLine,
            p.agentLine,
            p.hubLine,
            QString::number(p.canStart) + QString::number(p.canStop) +
                QString::number(p.canRestart),
            p.symbol + u'/' + QString::number(int(p.tint))};
}

QString tint(SymbolTint t) {
    return QString::number(int(t));
}

} // namespace

class CoreTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void wording_data() {
        QTest::addColumn<QString>("constant");
        QTest::addColumn<QString>("words");
        using namespace AppTexts;
        using namespace StatusText;
        using namespace PairingTexts;
        const std::pair<const QString*, const char16_t*> rows[] = {
            {&productName, u"Korvan Remote"},
            {&startTitle, u"启动 Korvan Remote"},
            {&stopTitle, u"停止并释放内存"},
            {&restartTitle, u"重新启动"},
            {&openMobileTitle, u"打开 Korvan 移动端"},
            {&openLocalTitle, u"打开本地控制台"},
            {&pairingTitle, u"连接账号与 Mac..."},
            {&loginItemTitle, u"登录 Mac 时启动控制器"},
            {&stopAndQuitTitle, u"停止服务并退出"},
            {&quitTitle, u"退出控制器"},
            {&errorMessage, u"Korvan 无法完成操作"},
            {&errorButton, u"知道了"},
            {&controllerName, u"Korvan Controller"},
            {&localConsoleURL, u"http://127.0.0.1:8796"},
            {&stateStopped, u"状态: 已停止"},
            {&stateSwitching, u"状态: 正在切换..."},
            {&stateLinked, u"状态: 已联动"},
            {&stateConnecting, u"状态: 正在连接"},
            {&stateFailed, u"状态: 启动失败"},
            {&bridgePrefix, u"Bridge: "},
            {&agentPrefix, u"Agent: "},
            {&hubPrefix, u"云端: "},
            {&running, u"运行中"},
            {&stopped, u"已停止"},
            {&hubLinked, u"已联动"},
            {&hubNotConnected, u"未连接"},
            {&memoryZero, u"当前占用: 0 MB"},
            {&memoryAboutPrefix, u"当前占用: 约 "},
            {&memorySuffix, u" MB"},
            {&stateChecking, u"正在检查状态..."},
            {&bridgeChecking, u"Bridge: 检查中"},
            {&agentChecking, u"Agent: 检查中"},
            {&hubChecking, u"云端: 检查中"},
            {&memoryUnknown, u"当前占用: --"},
            {&stateWaitingForPairing, u"状态: 等待配对"},
            {&bridgeNotInstalled, u"Bridge: 尚未安装"},
            {&agentNotInstalled, u"Agent: 尚未安装"},
            {&hubNotConnectedLine, u"云端: 未连接"},
            {&windowTitle, u"Korvan Controller"},
            {&title, u"连接 Korvan"},
            {&subtitle, u"把这台 Mac 与当前 Korvan 账号一对一绑定。"},
            {&hubCaption, u"Korvan 地址"},
            {&codeCaption, u"一次性配对码"},
            {&codePlaceholder, u"ABCD-EFGH-IJKL"},
            {&connectButton, u"连接这台 Mac"},
            {&prompt, u"输入移动端生成的一次性配对码。"},
            {&alreadyPaired, u"这台 Mac 已经配对。只有管理员解除旧绑定后，新的配对码才会生效。"},
            {&emptyCode, u"请先输入一次性配对码。"},
            {&success, u"配对成功，Korvan Remote 正在启动。"},
            {&genericFailure, u"配对失败，请确认配对码仍然有效。"},
        };
        for (const auto& [constant, words] : rows)
            QTest::addRow("%s", qPrintable(QString::fromUtf16(words)))
                << *constant << QString::fromUtf16(words);
    }
    void wording() {
        QFETCH(QString, constant);
        QTEST(constant, "words");
    }

    void presentation_data() {
        QTest::addColumn<Presentation>("presentation");
        QTest::addColumn<QStringList>("expected");
        using namespace StatusText;
        const QString antenna = StatusSymbol::active;
        QTest::newRow("before the first report")
            << Presentation::checking()
            << QStringList{stateChecking, bridgeChecking,
                           agentChecking, hubChecking,
                           u"111"_s,      antenna + u'/' + tint(SymbolTint::yellow)};
        QTest::newRow("unpaired") << Presentation::unpaired()
                                  << QStringList{
                                         stateWaitingForPairing,
                                         bridgeNotInstalled,
                                         agentNotInstalled,
                                         hubNotConnectedLine,
                                         u"000"_s,
                                         StatusSymbol::stopped + u'/' + tint(SymbolTint::grey)};
        const QString on = bridgePrefix + running, off = bridgePrefix + stopped;
        const QString agentOn = agentPrefix + running, agentOff = agentPrefix + stopped;
        const QString hubOn = hubPrefix + hubLinked, hubOff = hubPrefix + hubNotConnected;
        QTest::newRow("linked")
            << Presentation::of(snapshot("enabled", "online", "online", "online"), false)
            << QStringList{stateLinked, on,       agentOn,
                           hubOn,       u"011"_s, antenna + u'/' + tint(SymbolTint::green)};
        QTest::newRow("linked, busy")
            << Presentation::of(snapshot("enabled", "online", "online", "online"), true)
            << QStringList{stateSwitching, on,       agentOn,
                           hubOn,          u"000"_s, antenna + u'/' + tint(SymbolTint::yellow)};
        QTest::newRow("disabled")
            << Presentation::of(snapshot("disabled", "stopped", "x", "online"), false)
            << QStringList{stateStopped, off,
                           agentOff,     hubOn,
                           u"101"_s,     StatusSymbol::stopped + u'/' + tint(SymbolTint::grey)};
        QTest::newRow("disabled, agent up")
            << Presentation::of(snapshot("disabled", "x", "online", "x"), false)
            << QStringList{stateStopped, off,
                           agentOn,      hubOff,
                           u"111"_s,     StatusSymbol::stopped + u'/' + tint(SymbolTint::grey)};
        QTest::newRow("disabled, bridge up")
            << Presentation::of(snapshot("disabled", "online", "x", "x"), false)
            << QStringList{stateStopped, on,
                           agentOff,     hubOff,
                           u"111"_s,     StatusSymbol::stopped + u'/' + tint(SymbolTint::grey)};
        QTest::newRow("connecting")
            << Presentation::of(snapshot("enabled", "stopped", "online", "offline"), false)
            << QStringList{stateConnecting, off,      agentOn,
                           hubOff,          u"111"_s, antenna + u'/' + tint(SymbolTint::yellow)};
        QTest::newRow("values in other case")
            << Presentation::of(snapshot("enabled", "Online", "online ", "ONLINE"), false)
            << QStringList{stateFailed, off,
                           agentOff,    hubOff,
                           u"111"_s,    StatusSymbol::failed + u'/' + tint(SymbolTint::red)};
    }
    void presentation() {
        QFETCH(Presentation, presentation);
        QTEST(shown(presentation), "expected");
    }

    void memory_data() {
        QTest::addColumn<qint64>("bridge");
        QTest::addColumn<qint64>("agent");
        QTest::addColumn<QString>("megabytes"); // empty: the zero line
        constexpr qint64 max = std::numeric_limits<qint64>::max();
        constexpr qint64 min = std::numeric_limits<qint64>::min();
        QTest::newRow("511 KB") << qint64(511) << qint64(0) << QString();
        QTest::newRow("512 KB rounds up") << qint64(256) << qint64(256) << u"1"_s;
        QTest::newRow("1535 KB") << qint64(1535) << qint64(0) << u"1"_s;
        QTest::newRow("1536 KB") << qint64(0) << qint64(1536) << u"2"_s;
        QTest::newRow("negative half") << qint64(-512) << qint64(0) << QString();
        QTest::newRow("beyond 64 bits") << max << max << u"18014398509481984"_s;
        QTest::newRow("max plus min") << max << min << QString();
    }
    void memory() {
        QFETCH(qint64, bridge);
        QFETCH(qint64, agent);
        QFETCH(QString, megabytes);
        const QString line = megabytes.isEmpty() ? StatusText::memoryZero
                                                 : StatusText::memoryAboutPrefix + megabytes +
                                                       StatusText::memorySuffix;
        QCOMPARE(StatusText::memoryLine(bridge, agent), line);
    }

    // The two fields start as "H" and "C"; the link fills what it carries.
    void links_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("isKorvan");
        QTest::addColumn<QString>("hub");
        QTest::addColumn<QString>("code");
        QTest::newRow("both") << "korvan://pair?hub=https://h.example&code=ab-cd" << true
                              << "https://h.example"
                              << "AB-CD";
        QTest::newRow("upper-case scheme, no host") << "KorVan:?code=x" << true << "H"
                                                    << "X";
        QTest::newRow("no query") << "korvan://pair" << true << "H"
                                  << "C";
        QTest::newRow("empty values") << "korvan://p?hub=&code=" << true << "H"
                                      << "C";
        QTest::newRow("items without a value") << "korvan://p?hub&code" << true << "H"
                                               << "C";
        QTest::newRow("percent-encoding, plus kept, blanks kept")
            << "korvan://p?hub=%20http%3A%2F%2Fh%2Fa%20b&code=%E9%85%8D+1" << true
            << " http://h/a b"
            << "配+1";
        QTest::newRow("names are exact") << "korvan://p?HUB=a&Code=b&hubx=c" << true << "H"
                                         << "C";
        QTest::newRow("last value wins, an empty repeat keeps it")
            << "korvan://p?code=a&code=b&code=" << true << "H"
            << "B";
        QTest::newRow("not UTF-8, or a byte-order mark")
            << "korvan://p?code=%FF&hub=%EF%BB%BFh" << true << "h"
            << "C";
        QTest::newRow("unreadable") << "korvan://[bad?code=x" << true << "H"
                                    << "C";
        QTest::newRow("korvan-like scheme") << "korvanx://p?code=y" << false << "H"
                                            << "Y";
    }
    void links() {
        QFETCH(QString, link);
        const QUrl url(link);
        QTEST(PairingLink::isKorvanLink(url), "isKorvan");
        const PairingFields fields = PairingLink::prefill({u"H"_s, u"C"_s}, url);
        QTEST(fields.hub, "hub");
        QTEST(fields.code, "code");
    }

    void codes_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<OptString>("sent");
        QTest::newRow("trimmed, upper-cased") << " \tab cd\n" << OptString(u"AB CD"_s);
        QTest::newRow("ideographic space, no Turkish I") << "\u3000i\u3000" << OptString(u"I"_s);
        QTest::newRow("sharp s expands") << "straße" << OptString(u"STRASSE"_s);
        QTest::newRow("blanks only") << " \r\n\u2028 " << OptString();
    }
    void codes() {
        QFETCH(QString, typed);
        QTEST(PairingOutcome::normalizedCode(typed), "sent");
    }

    void failureLines_data() {
        QTest::addColumn<CommandResult>("result");
        QTest::addColumn<QString>("line");
        const QString generic = PairingTexts::genericFailure;
        QTest::newRow("error preferred") << CommandResult{u"out"_s, u" err \n"_s, 3} << u"err"_s;
        QTest::newRow("output when error empty")
            << CommandResult{u"\n out \n"_s, {}, 0} << u"out"_s;
        QTest::newRow("blank error hides output")
            << CommandResult{u"out"_s, u" \n\t"_s, 1} << generic;
        QTest::newRow("both empty") << CommandResult{} << generic;
        const QString ascii = QString(10, u'a') + QString(240, u'b');
        QTest::newRow("last 240") << CommandResult{{}, ascii + u"\n"_s, 1} << QString(240, u'b');
        QTest::newRow("exactly 240")
            << CommandResult{{}, QString(240, u'c'), 1} << QString(240, u'c');
        QString combining, flags;
        for (int i = 0; i < 250; ++i)
            combining += u"e\u0301"_s; // one character, two code units
        for (int i = 0; i < 241; ++i)
            flags += u"\U0001F1E8\U0001F1F3"_s; // one flag, four code units
        QTest::newRow("combining marks") << CommandResult{{}, combining, 1} << combining.right(480);
        QTest::newRow("flags") << CommandResult{{}, flags, 1} << flags.mid(4);
    }
    void failureLines() {
        QFETCH(CommandResult, result);
        QTEST(PairingOutcome::failureLine(result), "line");
    }

    void byteOrderMark_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<OptString>("kept");
        QTest::addColumn<OptString>("skipped");
        QTest::newRow("mark first")
            << QByteArray("\xEF\xBB\xBFk=v") << OptString(u"\uFEFFk=v"_s) << OptString(u"k=v"_s);
        QTest::newRow("mark later")
            << QByteArray("k\xEF\xBB\xBF") << OptString(u"k\uFEFF"_s) << OptString(u"k\uFEFF"_s);
        QTest::newRow("invalid") << QByteArray("\xEF\xBB\xBF\xC0\x80") << OptString()
                                 << OptString();
    }
    void byteOrderMark() {
        QFETCH(QByteArray, bytes);
        QTEST(text::decodeUtf8(bytes, text::Bom::keep), "kept");
        QTEST(text::decodeUtf8(bytes, text::Bom::skip), "skipped");
    }
};

QTEST_GUILESS_MAIN(CoreTest)
#include "tst_core.moc"
