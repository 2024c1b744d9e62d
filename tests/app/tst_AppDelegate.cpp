// The tray controller driven through its real menu and a real control script.

#include "KorvanConfig.h"
#include "app/AppDelegate.h"
#include "app/AppTexts.h"
#include "fakes/FakePlatform.h"
#include "pairing/PairingWindowController.h"
#include "platform/Preferences.h"
#include "platform/SymbolIcons.h"
#include "platform/XdgAutostartLoginItem.h"
#include "service/ServiceTexts.h"
#include "support/ScriptRoot.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kLinkedReport = "desired=enabled\nbridge=online\nagent=online\nhub=online\n"
                                 "bridge_memory_kb=51200\nagent_memory_kb=20480\n";
const QByteArray kFailedReport = "desired=enabled\nbridge=stopped\nagent=stopped\nhub=offline\n";

QImage iconImage(const QIcon& icon) {
    return icon.pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage expectedIcon(const char* symbol, SymbolTint tint) {
    return iconImage(SymbolIcons::tinted(QString::fromUtf8(symbol), SymbolIcons::tintColor(tint)));
}

QStringList lines(const AppDelegate& d) {
    return {d.titleItem()->text(), d.stateItem()->text(), d.bridgeItem()->text(),
            d.agentItem()->text(), d.hubItem()->text(),   d.memoryItem()->text()};
}

QList<bool> commandsEnabled(const AppDelegate& d) {
    return {d.startItem()->isEnabled(), d.stopItem()->isEnabled(), d.restartItem()->isEnabled()};
}

} // namespace

class AppDelegateTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> config_;
    FakeAlert alert_;
    FakeUrlOpener opener_;
    FakeLoginItem fakeLogin_;
    std::unique_ptr<XdgAutostartLoginItem> xdgLogin_;
    SettingsPreferences preferences_;
    LoginItem* login_ = nullptr;
    int terminations_ = 0;
    bool trayAvailable_ = true;
    std::unique_ptr<AppDelegate> delegate_;

    AppDelegate::Platform platform(std::chrono::milliseconds interval = 1h) {
        AppDelegate::Platform p;
        p.alert = &alert_;
        p.loginItem = login_;
        p.preferences = &preferences_;
        p.urlOpener = &opener_;
        p.terminate = [this] { ++terminations_; };
        p.isTrayAvailable = [this] { return trayAvailable_; };
        p.refreshInterval = interval;
        p.trayRetryInterval = 10ms;
        return p;
    }

    AppDelegate& launch(std::chrono::milliseconds interval = 1h) {
        delegate_ = std::make_unique<AppDelegate>(platform(interval));
        delegate_->applicationDidFinishLaunching();
        return *delegate_;
    }

    QAction* menuAction(const QString& title) const {
        for (QAction* action : delegate_->menu()->actions()) {
            if (action->text() == title)
                return action;
        }
        return nullptr;
    }

    // Presents a report the way a refresh does and waits for it to land.
    bool presentLinked(ScriptRoot& root) {
        root.setReport(kLinkedReport);
        return QTest::qWaitFor(
            [this] { return delegate_->stateItem()->text() == AppTexts::stateLinked; }, 10000);
    }

    // A paired, linked controller whose "restart" is still running.
    AppDelegate& launchBusyWithRestart(ScriptRoot& root) {
        root.pair();
        AppDelegate& d = launch();
        if (!presentLinked(root))
            qFatal("the linked report never arrived");
        root.hold(QStringLiteral("restart"));
        d.restartItem()->trigger();
        return d;
    }

private Q_SLOTS:
    void initTestCase() {
        QCoreApplication::setOrganizationName(QStringLiteral("KorvanTest"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_AppDelegate"));
    }

    void init() {
        config_ = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_->path()));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config_->path());
        xdgLogin_ = std::make_unique<XdgAutostartLoginItem>(QCoreApplication::applicationFilePath(),
                                                            AppTexts::controllerName);
        login_ = xdgLogin_.get();
        fakeLogin_ = FakeLoginItem();
        alert_ = FakeAlert();
        opener_.opened.clear();
        terminations_ = 0;
        trayAvailable_ = true;
    }

    void cleanup() { delegate_.reset(); }

    void assembledMenu() {
        ScriptRoot root;
        AppDelegate& d = launch();
        QStringList titles;
        QList<bool> enabled;
        QStringList shortcuts;
        for (QAction* a : d.menu()->actions()) {
            titles.append(a->isSeparator() ? QStringLiteral("-") : a->text());
            enabled.append(a->isEnabled());
            if (!a->shortcut().isEmpty())
                shortcuts.append(a->text() + u'=' + a->shortcut().toString());
        }
        QCOMPARE(titles,
                 (QStringList{AppTexts::productName, AppTexts::stateWaitingForPairing,
                              AppTexts::bridgeNotInstalled, AppTexts::agentNotInstalled,
                              AppTexts::hubNotConnectedLine, AppTexts::memoryZero, u"-"_s,
                              AppTexts::startTitle, AppTexts::stopTitle, AppTexts::restartTitle,
                              u"-"_s, AppTexts::openMobileTitle, AppTexts::openLocalTitle,
                              AppTexts::pairingTitle, AppTexts::loginItemTitle, u"-"_s,
                              AppTexts::stopAndQuitTitle, AppTexts::quitTitle}));
        QCOMPARE(enabled, (QList<bool>{false, false, false, false, false, false, true, false, false,
                                       false, true, true, true, true, true, true, true, true}));
        QCOMPARE(shortcuts, QStringList{AppTexts::quitTitle + u"=Ctrl+Q"_s});
        QVERIFY(!d.titleItem()->icon().isNull());
        QVERIFY(!d.startItem()->icon().isNull());
        QCOMPARE(d.statusItem()->toolTip(), AppTexts::productName);
    }

    void unpairedStartup() {
        ScriptRoot root;
        root.setReport(kLinkedReport);
        AppDelegate& d = launch();
        QSignalSpy pairing(&d, &AppDelegate::pairingRequested);
        // The request was made during start-up, before the spy existed.
        QVERIFY(!d.isPaired());
        QCOMPARE(lines(d),
                 (QStringList{AppTexts::productName, u"状态: 等待配对"_s, u"Bridge: 尚未安装"_s,
                              u"Agent: 尚未安装"_s, u"云端: 未连接"_s, u"当前占用: 0 MB"_s}));
        QCOMPARE(commandsEnabled(d), (QList<bool>{false, false, false}));
        QCOMPARE(iconImage(d.statusItem()->icon()), expectedIcon("power.circle", SymbolTint::grey));

        d.refreshTick();
        d.refreshTick();
        d.menu()->popup(QPoint(0, 0));
        d.menu()->hide();
        QVERIFY(root.settle());
        QCOMPARE(root.runs(), QStringList());
        QCOMPARE(d.stateItem()->text(), QStringLiteral("状态: 等待配对"));
        QCOMPARE(pairing.count(), 0);
    }

    void unpairedStartupAsksForPairing() {
        ScriptRoot root;
        AppDelegate d(platform());
        QSignalSpy pairing(&d, &AppDelegate::pairingRequested);
        d.applicationDidFinishLaunching();
        QCOMPARE(pairing.count(), 1);
        d.pairingItem()->trigger();
        QCOMPARE(pairing.count(), 2);
    }

    void pairedStartup() {
        ScriptRoot root;
        root.pair();
        root.setReport(kLinkedReport);
        root.hold(QStringLiteral("status"));
        AppDelegate& d = launch(5s);
        QTRY_COMPARE(root.runs(), QStringList{u"status"_s});
        // Until the report arrives the construction-time lines stay.
        QCOMPARE(lines(d),
                 (QStringList{AppTexts::productName, u"正在检查状态..."_s, u"Bridge: 检查中"_s,
                              u"Agent: 检查中"_s, u"云端: 检查中"_s, u"当前占用: --"_s}));
        QCOMPARE(iconImage(d.statusItem()->icon()),
                 expectedIcon("antenna.radiowaves.left.and.right.circle.fill", SymbolTint::yellow));
        QVERIFY(d.refreshTimer().isActive());
        QCOMPARE(d.refreshTimer().interval(), 5000);
        QVERIFY(!d.refreshTimer().isSingleShot());

        root.release(QStringLiteral("status"));
        QTRY_COMPARE(d.stateItem()->text(), QStringLiteral("状态: 已联动"));
        QCOMPARE(d.memoryItem()->text(), QStringLiteral("当前占用: 约 70 MB"));
        QCOMPARE(iconImage(d.statusItem()->icon()),
                 expectedIcon("antenna.radiowaves.left.and.right.circle.fill", SymbolTint::green));

        d.refreshTick();
        QTRY_COMPARE(root.runs().size(), 2);
        QVERIFY(root.settle());
        QCOMPARE(root.runs(), (QStringList{u"status"_s, u"status"_s}));
    }

    void timerTicksQueryStatus() {
        ScriptRoot root;
        root.pair();
        root.setReport(kLinkedReport);
        launch(20ms);
        QTRY_VERIFY(root.runs().size() >= 4);
        QVERIFY(!root.runs().contains(QStringLiteral("start")));
        delegate_->applicationWillTerminate();
        QVERIFY(!delegate_->refreshTimer().isActive());
    }

    void tickWhileBusyStartsNoRun() {
        ScriptRoot root;
        AppDelegate& d = launchBusyWithRestart(root);
        QVERIFY(d.isBusy());
        QCOMPARE(d.stateItem()->text(), QStringLiteral("状态: 正在切换..."));
        QCOMPARE(commandsEnabled(d), (QList<bool>{false, false, false}));
        QCOMPARE(iconImage(d.statusItem()->icon()),
                 expectedIcon("antenna.radiowaves.left.and.right.circle.fill", SymbolTint::yellow));
        QTRY_COMPARE(root.runs(), (QStringList{u"status"_s, u"restart"_s}));

        d.refreshTick();
        d.menu()->popup(QPoint(0, 0));
        d.menu()->hide();
        QVERIFY(root.settle());
        QCOMPARE(root.runs(), (QStringList{u"status"_s, u"restart"_s}));

        root.release(QStringLiteral("restart"));
        QTRY_COMPARE(root.runs(), (QStringList{u"status"_s, u"restart"_s, u"status"_s}));
        QTRY_VERIFY(!d.isBusy());
        QTRY_COMPARE(d.stateItem()->text(), QStringLiteral("状态: 已联动"));
    }

    void firstReportStartsOnce_data() {
        QTest::addColumn<QByteArray>("report");
        QTest::addColumn<bool>("starts");
        QTest::newRow("failed") << kFailedReport << true;
        QTest::newRow("connecting")
            << QByteArray("desired=enabled\nagent=online\nhub=offline\n") << true;
        QTest::newRow("linked") << kLinkedReport << false;
        QTest::newRow("desired disabled") << QByteArray("desired=disabled\n") << false;
        QTest::newRow("empty report") << QByteArray() << true;
    }

    void firstReportStartsOnce() {
        QFETCH(QByteArray, report);
        QFETCH(bool, starts);
        ScriptRoot root;
        root.pair();
        root.setReport(report);
        root.hold(QStringLiteral("start"));
        AppDelegate& d = launch();
        if (starts) {
            QTRY_COMPARE(root.runs(), (QStringList{u"status"_s, u"start"_s}));
            QCOMPARE(d.stateItem()->text(), QStringLiteral("状态: 正在切换..."));
            root.release(QStringLiteral("start"));
            QTRY_COMPARE(root.runs(), (QStringList{u"status"_s, u"start"_s, u"status"_s}));
            QTRY_VERIFY(!d.isBusy());
        }
        QTRY_VERIFY(!d.firstRefresh());
        QVERIFY(root.settle());
        const QStringList before = root.runs();
        // Later reports, whatever they say, never start anything.
        root.setReport(kFailedReport);
        d.refreshTick();
        QTRY_COMPARE(root.runs(), before + QStringList{u"status"_s});
        QVERIFY(root.settle());
        QCOMPARE(root.runs(), before + QStringList{u"status"_s});
        QCOMPARE(d.stateItem()->text(), QStringLiteral("状态: 启动失败"));
        QCOMPARE(alert_.shown.size(), 0);
    }

    void firstReportWhileBusyUsesUpTheRule() {
        ScriptRoot root;
        root.pair();
        root.setReport(kFailedReport);
        root.hold(QStringLiteral("status"));
        root.hold(QStringLiteral("restart"));
        AppDelegate& d = launch();
        QTRY_COMPARE(root.runs(), QStringList{u"status"_s});
        d.restartItem()->trigger();
        QTRY_COMPARE(root.runs(), (QStringList{u"status"_s, u"restart"_s}));
        root.release(QStringLiteral("status"));
        QTRY_VERIFY(!d.firstRefresh());
        QCOMPARE(d.stateItem()->text(), QStringLiteral("状态: 正在切换..."));
        root.release(QStringLiteral("restart"));
        QTRY_COMPARE(root.runs(), (QStringList{u"status"_s, u"restart"_s, u"status"_s}));
        QTRY_COMPARE(d.stateItem()->text(), QStringLiteral("状态: 启动失败"));
        QVERIFY(root.settle());
        QVERIFY(!root.runs().contains(QStringLiteral("start")));
    }

    void missingScriptAutoStartAlerts() {
        ScriptRoot root(false);
        root.pair();
        AppDelegate& d = launch();
        QTRY_COMPARE(alert_.shown.size(), 1);
        QCOMPARE(alert_.shown[0].informativeText, ServiceTexts::scriptMissing);
        QTRY_COMPARE(d.stateItem()->text(), QStringLiteral("状态: 启动失败"));
        QCOMPARE(alert_.shown.size(), 1);
    }

    void failingCommandAlertsThenRefreshes_data() {
        QTest::addColumn<QByteArray>("standardError");
        QTest::addColumn<QByteArray>("standardOutput");
        QTest::addColumn<QString>("informative");
        QTest::newRow("error text") << QByteArray("boom\n") << QByteArray("ignored") << u"boom"_s;
        QTest::newRow("output when no error")
            << QByteArray() << QByteArray("\t out text \n") << u"out text"_s;
        QTest::newRow("error of only a line feed")
            << QByteArray("\n") << QByteArray("some output") << u""_s;
        QTest::newRow("nothing at all") << QByteArray() << QByteArray() << u""_s;
        QTest::newRow("wide space trimmed")
            << QByteArray("\u3000出错了\u3000\n") << QByteArray() << QStringLiteral("出错了");
    }

    void failingCommandAlertsThenRefreshes() {
        QFETCH(QByteArray, standardError);
        QFETCH(QByteArray, standardOutput);
        QFETCH(QString, informative);
        ScriptRoot root;
        root.pair();
        AppDelegate& d = launch();
        QVERIFY(presentLinked(root));
        root.fail(QStringLiteral("stop"), 1, standardError, standardOutput);
        QStringList runsAtAlert;
        alert_.whileShown = [&] { runsAtAlert = root.runs(); };
        root.setReport("desired=disabled\n");
        d.stopItem()->trigger();
        QTRY_COMPARE(alert_.shown.size(), 1);
        QCOMPARE(alert_.shown[0].messageText, QStringLiteral("Korvan 无法完成操作"));
        QCOMPARE(alert_.shown[0].informativeText, informative);
        QCOMPARE(alert_.shown[0].buttonTitle, QStringLiteral("知道了"));
        QCOMPARE(runsAtAlert, (QStringList{u"status"_s, u"stop"_s}));
        QTRY_COMPARE(d.stateItem()->text(), QStringLiteral("状态: 已停止"));
        QCOMPARE(root.runs(), (QStringList{u"status"_s, u"stop"_s, u"status"_s}));
        QCOMPARE(terminations_, 0);
    }

    void succeedingCommandWithErrorTextIsQuiet() {
        ScriptRoot root;
        root.pair();
        AppDelegate& d = launch();
        QVERIFY(presentLinked(root));
        root.fail(QStringLiteral("restart"), 0, "warning only\n");
        d.restartItem()->trigger();
        QTRY_COMPARE(root.runs(), (QStringList{u"status"_s, u"restart"_s, u"status"_s}));
        QTRY_VERIFY(!d.isBusy());
        QVERIFY(root.settle());
        QCOMPARE(alert_.shown.size(), 0);
    }

    void stopAndQuitWithFailingStop() {
        ScriptRoot root;
        root.pair();
        AppDelegate& d = launch();
        QVERIFY(presentLinked(root));
        root.fail(QStringLiteral("stop"), 3, "cannot stop\n");
        int terminationsAtAlert = -1;
        QStringList runsAtAlert;
        alert_.whileShown = [&] {
            terminationsAtAlert = terminations_;
            runsAtAlert = root.runs();
        };
        menuAction(AppTexts::stopAndQuitTitle)->trigger();
        QTRY_COMPARE(terminations_, 1);
        QCOMPARE(terminationsAtAlert, 0);
        QCOMPARE(runsAtAlert, (QStringList{u"status"_s, u"stop"_s}));
        QCOMPARE(alert_.shown.size(), 1);
        QCOMPARE(alert_.shown[0].informativeText, QStringLiteral("cannot stop"));
        QCOMPARE(root.runs(), (QStringList{u"status"_s, u"stop"_s, u"status"_s}));
        QCOMPARE(d.stateItem()->text(), QStringLiteral("状态: 已联动"));
    }

    void stopAndQuitWhileBusyIsDropped() {
        ScriptRoot root;
        AppDelegate& d = launchBusyWithRestart(root);
        menuAction(AppTexts::stopAndQuitTitle)->trigger();
        QTRY_COMPARE(root.runs(), (QStringList{u"status"_s, u"restart"_s}));
        root.release(QStringLiteral("restart"));
        QTRY_COMPARE(root.runs(), (QStringList{u"status"_s, u"restart"_s, u"status"_s}));
        QTRY_VERIFY(!d.isBusy());
        QVERIFY(root.settle());
        QCOMPARE(root.runs(), (QStringList{u"status"_s, u"restart"_s, u"status"_s}));
        QCOMPARE(terminations_, 0);
    }

    void quitRunsNothing() {
        ScriptRoot root;
        root.pair();
        root.setReport(kLinkedReport);
        launch();
        QTRY_COMPARE(root.runs(), QStringList{u"status"_s});
        delegate_->menu()->popup(QPoint(0, 0));
        QVERIFY(QTest::qWaitForWindowExposed(delegate_->menu()));
        QTest::keyClick(delegate_->menu(), Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(terminations_, 1);
        QVERIFY(root.settle());
        QVERIFY(!root.runs().contains(QStringLiteral("stop")));
    }

    void opensPages() {
        ScriptRoot root;
        launch();
        menuAction(AppTexts::openLocalTitle)->trigger();
        menuAction(AppTexts::openMobileTitle)->trigger();
        QCOMPARE(opener_.opened, (QList<QUrl>{QUrl(QStringLiteral("http://127.0.0.1:8796")),
                                              QUrl(korvan::defaultHubURL)}));
        QCOMPARE(opener_.opened[1].scheme(), QStringLiteral("https"));
        QVERIFY(opener_.opened[1].path().isEmpty());
    }

    void firstStartRegistersOnce() {
        ScriptRoot root;
        launch();
        QVERIFY(QSettings().value(QStringLiteral("didConfigureLoginItem")).toBool());
        QVERIFY(QFile::exists(XdgAutostartLoginItem::entryPath()));
        QVERIFY(delegate_->loginItem()->isChecked());
        // Switched off by the user: a later start leaves it off.
        delegate_->loginItem()->trigger();
        QVERIFY(!QFile::exists(XdgAutostartLoginItem::entryPath()));
        delegate_.reset();
        launch();
        QVERIFY(!QFile::exists(XdgAutostartLoginItem::entryPath()));
        QVERIFY(!delegate_->loginItem()->isChecked());
    }

    void failedFirstRegistrationIsSilent() {
        ScriptRoot root;
        // A file where the autostart folder belongs makes registering fail.
        QFile blocker(config_->path() + QStringLiteral("/autostart"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        launch();
        QCOMPARE(QSettings().value(QStringLiteral("didConfigureLoginItem")), QVariant(false));
        QCOMPARE(alert_.shown.size(), 0);
        QVERIFY(!delegate_->loginItem()->isChecked());
        delegate_.reset();
        QVERIFY(blocker.remove());
        launch();
        QVERIFY(QSettings().value(QStringLiteral("didConfigureLoginItem")).toBool());
        QVERIFY(delegate_->loginItem()->isChecked());
    }

    void toggleLoginItem() {
        ScriptRoot root;
        QSettings().setValue(QStringLiteral("didConfigureLoginItem"), true);
        AppDelegate& d = launch();
        QVERIFY(!d.loginItem()->isChecked());
        d.loginItem()->trigger();
        QCOMPARE(xdgLogin_->status(), LoginItemStatus::enabled);
        QVERIFY(d.loginItem()->isChecked());
        d.loginItem()->trigger();
        QCOMPARE(xdgLogin_->status(), LoginItemStatus::notRegistered);
        QVERIFY(!d.loginItem()->isChecked());

        QVERIFY(QDir().rmdir(config_->path() + QStringLiteral("/autostart")));
        QFile blocker(config_->path() + QStringLiteral("/autostart"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        d.loginItem()->trigger();
        QCOMPARE(alert_.shown.size(), 1);
        QCOMPARE(alert_.shown[0].messageText, AppTexts::errorMessage);
        QVERIFY(!alert_.shown[0].informativeText.isEmpty());
        QVERIFY(!d.loginItem()->isChecked());
        QCOMPARE(QSettings().value(QStringLiteral("didConfigureLoginItem")), QVariant(true));
    }

    void toggleRegistersUnlessEnabled_data() {
        QTest::addColumn<LoginItemStatus>("status");
        QTest::addColumn<bool>("registers");
        QTest::newRow("enabled") << LoginItemStatus::enabled << false;
        QTest::newRow("not registered") << LoginItemStatus::notRegistered << true;
        QTest::newRow("not found") << LoginItemStatus::notFound << true;
        QTest::newRow("requires approval") << LoginItemStatus::requiresApproval << true;
    }

    void toggleRegistersUnlessEnabled() {
        QFETCH(LoginItemStatus, status);
        QFETCH(bool, registers);
        ScriptRoot root;
        QSettings().setValue(QStringLiteral("didConfigureLoginItem"), true);
        login_ = &fakeLogin_;
        fakeLogin_.current = status;
        AppDelegate& d = launch();
        QCOMPARE(d.loginItem()->isChecked(), status == LoginItemStatus::enabled);
        d.loginItem()->trigger();
        QCOMPARE(fakeLogin_.registrations, registers ? 1 : 0);
        QCOMPARE(fakeLogin_.unregistrations, registers ? 0 : 1);
        QCOMPARE(d.loginItem()->isChecked(), registers);
    }

    void openingRereadsCheckmark() {
        ScriptRoot root;
        root.pair();
        root.setReport(kLinkedReport);
        QSettings().setValue(QStringLiteral("didConfigureLoginItem"), true);
        AppDelegate& d = launch();
        QTRY_COMPARE(root.runs(), QStringList{u"status"_s});
        QVERIFY(!d.loginItem()->isChecked());
        QVERIFY(!xdgLogin_->registerItem().has_value()); // switched on elsewhere
        d.menu()->popup(QPoint(0, 0));
        QVERIFY(d.loginItem()->isChecked());
        QTRY_COMPARE(root.runs(), (QStringList{u"status"_s, u"status"_s}));
        d.menu()->hide();
    }

    void presentation_data() {
        QTest::addColumn<QByteArray>("report");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("bridge");
        QTest::addColumn<QByteArray>("symbol");
        QTest::addColumn<SymbolTint>("tint");
        QTest::addColumn<QList<bool>>("enabled");
        const QByteArray antenna = "antenna.radiowaves.left.and.right.circle.fill";
        QTest::newRow("linked") << kLinkedReport << u"状态: 已联动"_s << u"Bridge: 运行中"_s
                                << antenna << SymbolTint::green << QList<bool>{false, true, true};
        QTest::newRow("disabled") << QByteArray("desired=disabled\n") << u"状态: 已停止"_s
                                  << u"Bridge: 已停止"_s << QByteArray("power.circle")
                                  << SymbolTint::grey << QList<bool>{true, false, true};
        QTest::newRow("disabled, bridge online")
            << QByteArray("desired=disabled\nbridge=online\n") << u"状态: 已停止"_s
            << u"Bridge: 运行中"_s << QByteArray("power.circle") << SymbolTint::grey
            << QList<bool>{true, true, true};
        QTest::newRow("connecting") << QByteArray("desired=enabled\nagent=online\n")
                                    << u"状态: 正在连接"_s << u"Bridge: 已停止"_s << antenna
                                    << SymbolTint::yellow << QList<bool>{true, true, true};
        QTest::newRow("failed, bridge in other case")
            << QByteArray("desired=enabled\nbridge=Online\n") << u"状态: 启动失败"_s
            << u"Bridge: 已停止"_s << QByteArray("exclamationmark.circle.fill") << SymbolTint::red
            << QList<bool>{true, true, true};
    }

    void presentation() {
        QFETCH(QByteArray, report);
        QFETCH(QString, state);
        QFETCH(QString, bridge);
        QFETCH(QByteArray, symbol);
        QFETCH(SymbolTint, tint);
        QFETCH(QList<bool>, enabled);
        ScriptRoot root;
        root.setReport(report);
        AppDelegate& d = launch();
        // An unpaired machine presents reports only as a command's follow-up.
        d.restartItem()->setEnabled(true);
        d.restartItem()->trigger();
        QTRY_COMPARE(root.runs(), (QStringList{u"restart"_s, u"status"_s}));
        QTRY_COMPARE(d.stateItem()->text(), state);
        QCOMPARE(d.bridgeItem()->text(), bridge);
        QCOMPARE(commandsEnabled(d), enabled);
        QCOMPARE(iconImage(d.statusItem()->icon()), expectedIcon(symbol.constData(), tint));
        QCOMPARE(d.snapshot(), ServiceSnapshot::parse(QString::fromUtf8(report)));
    }

    void iconReplacedOnlyWhenItChanges_data() {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<QByteArray>("symbol");
        QTest::addColumn<SymbolTint>("tint");
        QTest::addColumn<bool>("replaced");
        const QByteArray antenna = "antenna.radiowaves.left.and.right.circle.fill";
        const QByteArray stopped = "desired=disabled\n";
        QTest::newRow("linked, memory changes")
            << kLinkedReport << QByteArray(kLinkedReport).replace("51200", "61440") << antenna
            << SymbolTint::green << false;
        QTest::newRow("stopped, bridge comes up")
            << stopped << QByteArray("desired=disabled\nbridge=online\n")
            << QByteArray("power.circle") << SymbolTint::grey << false;
        QTest::newRow("stopped to linked")
            << stopped << kLinkedReport << antenna << SymbolTint::green << true;
        QTest::newRow("linked to failed")
            << kLinkedReport << kFailedReport << QByteArray("exclamationmark.circle.fill")
            << SymbolTint::red << true;
    }

    void iconReplacedOnlyWhenItChanges() {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QFETCH(QByteArray, symbol);
        QFETCH(SymbolTint, tint);
        QFETCH(bool, replaced);
        ScriptRoot root;
        root.pair();
        root.setReport(first);
        AppDelegate& d = launch();
        QTRY_COMPARE(d.snapshot(), ServiceSnapshot::parse(QString::fromUtf8(first)));
        const qint64 before = d.statusItem()->icon().cacheKey();

        root.setReport(second);
        d.refreshTick();
        QTRY_COMPARE(d.snapshot(), ServiceSnapshot::parse(QString::fromUtf8(second)));
        QCOMPARE(d.statusItem()->icon().cacheKey() != before, replaced);
        QCOMPARE(iconImage(d.statusItem()->icon()), expectedIcon(symbol.constData(), tint));
        QCOMPARE(root.runs(), (QStringList{u"status"_s, u"status"_s}));
    }

    void pairingConsumesFirstRefresh() {
        ScriptRoot root;
        root.setReport(kFailedReport);
        AppDelegate& d = launch();
        root.pair();
        d.onPaired();
        QVERIFY(d.isPaired());
        QVERIFY(!d.firstRefresh());
        QTRY_COMPARE(d.stateItem()->text(), QStringLiteral("状态: 启动失败"));
        QVERIFY(root.settle());
        QCOMPARE(root.runs(), QStringList{u"status"_s});
    }

    void pairingWindowAtStartup() {
        {
            ScriptRoot root;
            AppDelegate& d = launch();
            QVERIFY(d.hasPairingWindow());
            QTRY_VERIFY(d.pairingWindow()->window()->isVisible());
            QCOMPARE(d.pairingWindow()->statusLabel()->text(), u"输入移动端生成的一次性配对码。"_s);
            d.pairingWindow()->window()->hide();
            d.pairingItem()->trigger(); // the menu item shows the same window
            QVERIFY(d.pairingWindow()->window()->isVisible());
        }
        ScriptRoot root;
        root.pair();
        AppDelegate& d = launch();
        QVERIFY(!d.hasPairingWindow());
    }

    void urlEntry_data() {
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<QString>("hub");
        QTest::addColumn<QString>("code");
        const QString def = korvan::defaultHubURL;
        QTest::newRow("web address alone")
            << QStringList{u"https://example.org/?code=x"_s} << false << def << QString();
        QTest::newRow("nothing") << QStringList{} << false << def << QString();
        QTest::newRow("first korvan link after a web address")
            << QStringList{u"https://example.org/?code=web"_s,
                           u"korvan://pair?hub=https%3A%2F%2Fh.example&code=ab-cd"_s,
                           u"korvan://pair?code=third"_s}
            << true << u"https://h.example"_s << u"AB-CD"_s;
        QTest::newRow("upper-case scheme, hub kept with blanks")
            << QStringList{u"KORVAN://x?hub=%20http://a.example%20"_s} << true
            << u" http://a.example "_s << QString();
        QTest::newRow("korvan link without query")
            << QStringList{u"korvan:"_s} << true << def << QString();
        QTest::newRow("argument that is no url")
            << QStringList{u"-platform"_s} << false << def << QString();
    }

    void urlEntry() {
        QFETCH(QStringList, urls);
        QFETCH(bool, shown);
        ScriptRoot root;
        root.pair(); // a paired start leaves the window uncreated
        AppDelegate& d = launch();
        QList<QUrl> list;
        for (const QString& u : urls)
            list << QUrl(u);
        d.openURLs(list);
        QCOMPARE(d.hasPairingWindow(), shown);
        if (!shown)
            return;
        QVERIFY(d.pairingWindow()->window()->isVisible());
        QTEST(d.pairingWindow()->hubField()->text(), "hub");
        QTEST(d.pairingWindow()->pairCodeField()->text(), "code");
        // On a paired machine the window says so.
        QCOMPARE(d.pairingWindow()->statusLabel()->text(),
                 u"这台 Mac 已经配对。只有管理员解除旧绑定后，新的配对码才会生效。"_s);
    }

    void trayShownOnceAvailable() {
        ScriptRoot root;
        trayAvailable_ = false;
        AppDelegate& d = launch();
        QVERIFY(!d.statusItem()->isVisible());
        trayAvailable_ = true;
        QTRY_VERIFY(d.statusItem()->isVisible());
    }
};

QTEST_MAIN(AppDelegateTest)
#include "tst_AppDelegate.moc"
