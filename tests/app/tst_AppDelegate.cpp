// The tray controller against recording fakes: the menu is read through the
// QMenu handed to the fake tray, and each service call completes when the
// test says so.
#include "KorvanConfig.h"
#include "app/AppDelegate.h"
#include "app/AppTexts.h"
#include "core/PairingTexts.h"
#include "core/StatusText.h"
#include "fakes/FakePlatform.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const ServiceSnapshot kLinked{u"enabled"_s, u"online"_s, u"online"_s, u"online"_s, 51200, 20480};
const ServiceSnapshot kFailed{u"enabled"_s, u"stopped"_s, u"stopped"_s, u"offline"_s, 0, 0};
const ServiceSnapshot kDisabled{u"disabled"_s, u"stopped"_s, u"stopped"_s, u"offline"_s, 0, 0};

QWidget* pairingWindow() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->windowTitle() == PairingTexts::windowTitle && w->isVisible())
            return w;
    }
    return nullptr;
}

} // namespace

class AppDelegateTest : public QObject {
    Q_OBJECT

    FakeServices services_;
    FakeTray tray_;
    FakeAlert alert_;
    FakeUrlOpener opener_;
    FakePreferences prefs_;
    FakeLoginItem login_;
    int terminations_ = 0;
    int retryLimit_ = 150;
    std::unique_ptr<AppDelegate> d_;

    void launch(bool paired) {
        services_.paired = paired;
        AppDelegate::Platform p{.alert = &alert_,
                                .loginItem = &login_,
                                .preferences = &prefs_,
                                .urlOpener = &opener_,
                                .trayIcon = &tray_,
                                .terminate = [this] { ++terminations_; },
                                .trayRetryLimit = retryLimit_};
        d_ = std::make_unique<AppDelegate>(services_, p);
        d_->applicationDidFinishLaunching();
    }
    QAction* item(int row) const { return tray_.menu->actions().at(row); }
    QStringList lines() const {
        return {item(1)->text(), item(2)->text(), item(3)->text(), item(4)->text(),
                item(5)->text()};
    }
    static QStringList linesOf(const Presentation& p) {
        return {p.stateLine, p.bridgeLine, p.agentLine, p.hubLine, p.memoryLine};
    }
    QString enabled() const {
        return QString::number(item(7)->isEnabled()) + QString::number(item(8)->isEnabled()) +
               QString::number(item(9)->isEnabled());
    }
    // One firing of the delegate's timer of this interval, without waiting for it.
    void fire(int intervalMs) {
        for (QTimer* t : d_->findChildren<QTimer*>()) {
            if (t->interval() == intervalMs && t->isActive()) {
                QTimerEvent event(t->timerId());
                QCoreApplication::sendEvent(t, &event);
            }
        }
        QCoreApplication::processEvents();
    }
    void opened() { Q_EMIT tray_.menu->aboutToShow(); }
    // A paired controller showing a linked report.
    void launchLinked() {
        services_.report = kLinked;
        launch(true);
        QVERIFY(services_.completeNext());
        QCOMPARE(services_.calls, QStringList{u"status"_s});
    }

private Q_SLOTS:
    void init() {
        services_ = FakeServices();
        tray_ = FakeTray();
        alert_ = FakeAlert();
        opener_.opened.clear();
        prefs_.values = {{u"didConfigureLoginItem"_s, true}};
        login_ = FakeLoginItem();
        terminations_ = 0;
        retryLimit_ = 150;
    }
    void cleanup() {
        d_.reset();
        QCOMPARE(tray_.menu, nullptr);
    }

    void unpairedStart() {
        launch(false);
        QStringList titles, shortcuts;
        QString enabledItems;
        for (QAction* a : tray_.menu->actions()) {
            titles << (a->isSeparator() ? u"-"_s : a->text());
            enabledItems += a->isEnabled() ? u'1' : u'0';
            if (!a->shortcut().isEmpty())
                shortcuts << a->text() + u'=' + a->shortcut().toString();
        }
        using namespace AppTexts;
        const QStringList expected =
            QStringList{productName} + linesOf(Presentation::unpaired()) +
            QStringList{u"-"_s,         startTitle,      stopTitle,        restartTitle,
                        u"-"_s,         openMobileTitle, openLocalTitle,   pairingTitle,
                        loginItemTitle, u"-"_s,          stopAndQuitTitle, quitTitle};
        QCOMPARE(titles, expected);
        QCOMPARE(enabledItems, u"000000100011111111"_s);
        QCOMPARE(shortcuts, QStringList{quitTitle + u"=Ctrl+Q"_s});
        QVERIFY(!item(0)->icon().isNull() && !item(7)->icon().isNull());
        QCOMPARE(tray_.toolTip, productName);
        QVERIFY(tray_.shown);
        QCOMPARE(tray_.symbol, StatusSymbol::stopped);
        QCOMPARE(tray_.tint, SymbolTint::grey);
        QVERIFY(pairingWindow());
        // Nothing to ask an unpaired machine, by timer or by opening the menu.
        fire(5000);
        opened();
        QCOMPARE(services_.calls, QStringList());
        pairingWindow()->hide();
        item(13)->trigger();
        QVERIFY(pairingWindow());
    }

    void pairedStartRefreshes() {
        services_.report = kLinked;
        launch(true);
        QCOMPARE(services_.calls, QStringList{u"status"_s});
        QCOMPARE(lines(), linesOf(Presentation::checking()));
        QCOMPARE(tray_.tint, SymbolTint::yellow);
        QVERIFY(!pairingWindow());
        QVERIFY(services_.completeNext());
        QCOMPARE(lines(), linesOf(Presentation::of(kLinked, false)));
        QCOMPARE(enabled(), u"011"_s);
        QCOMPARE(tray_.tint, SymbolTint::green);
        fire(5000);
        opened();
        QCOMPARE(services_.calls, (QStringList{u"status"_s, u"status"_s, u"status"_s}));
        d_->applicationWillTerminate();
        fire(5000);
        QCOMPARE(services_.calls.size(), 3);
    }

    void busyDropsEverythingElse() {
        launchLinked();
        item(9)->trigger(); // restart
        QCOMPARE(lines(), linesOf(Presentation::of(kLinked, true)));
        QCOMPARE(enabled(), u"000"_s);
        QCOMPARE(tray_.tint, SymbolTint::yellow);
        fire(5000);
        opened();
        item(16)->trigger(); // stop and quit
        QCOMPARE(services_.calls, (QStringList{u"status"_s, u"restart"_s}));
        services_.report = kDisabled;
        services_.completeAll();
        QCOMPARE(services_.calls, (QStringList{u"status"_s, u"restart"_s, u"status"_s}));
        QCOMPARE(lines(), linesOf(Presentation::of(kDisabled, false)));
        QCOMPARE(enabled(), u"101"_s);
        QCOMPARE(terminations_, 0);
        QCOMPARE(alert_.shown, QStringList());
    }

    void firstReportStartsOnce_data() {
        QTest::addColumn<ServiceSnapshot>("report");
        QTest::addColumn<bool>("starts");
        QTest::newRow("failed") << kFailed << true;
        QTest::newRow("connecting")
            << ServiceSnapshot{u"enabled"_s, {}, u"online"_s, {}, 0, 0} << true;
        QTest::newRow("linked") << kLinked << false;
        QTest::newRow("disabled") << kDisabled << false;
    }
    void firstReportStartsOnce() {
        QFETCH(ServiceSnapshot, report);
        QFETCH(bool, starts);
        services_.report = report;
        launch(true);
        QVERIFY(services_.completeNext());
        QStringList expected{u"status"_s};
        if (starts)
            expected << u"start"_s;
        QCOMPARE(services_.calls, expected);
        services_.report = kFailed;
        services_.completeAll();
        fire(5000); // later reports, whatever they say, start nothing
        services_.completeAll();
        QCOMPARE(services_.calls, expected + QStringList(starts ? 2 : 1, u"status"_s));
        QCOMPARE(lines().first(), StatusText::stateFailed);
    }

    void firstReportWhileBusyUsesUpTheRule() {
        services_.report = kFailed;
        launch(true);
        item(9)->trigger();
        QVERIFY(services_.completeNext()); // the first status, while restarting
        QCOMPARE(lines().first(), StatusText::stateSwitching);
        services_.completeAll();
        QCOMPARE(services_.calls, (QStringList{u"status"_s, u"restart"_s, u"status"_s}));
        QCOMPARE(lines().first(), StatusText::stateFailed);
    }

    void failedCommandAlertsBeforeTheFollowUp_data() {
        QTest::addColumn<CommandResult>("result");
        QTest::addColumn<QStringList>("alert");
        const QString title = AppTexts::errorMessage;
        QTest::newRow("error text")
            << CommandResult{u"ignored"_s, u"boom\n"_s, 1} << QStringList{title, u"boom"_s};
        QTest::newRow("output when no error")
            << CommandResult{u"\t out \n"_s, {}, 2} << QStringList{title, u"out"_s};
        QTest::newRow("error of a line feed")
            << CommandResult{u"output"_s, u"\n"_s, 1} << QStringList{title, QString()};
        QTest::newRow("wide space")
            << CommandResult{{}, u"\u3000出错了\u3000"_s, 1} << QStringList{title, u"出错了"_s};
        QTest::newRow("success with error text")
            << CommandResult{{}, u"warning only"_s, 0} << QStringList();
    }
    void failedCommandAlertsBeforeTheFollowUp() {
        QFETCH(CommandResult, result);
        launchLinked();
        services_.result = result;
        QStringList callsAtAlert;
        alert_.whileShown = [&] { callsAtAlert = services_.calls; };
        item(8)->trigger(); // stop
        QVERIFY(services_.completeNext());
        QTEST(alert_.shown, "alert");
        if (!alert_.shown.isEmpty())
            QCOMPARE(callsAtAlert, (QStringList{u"status"_s, u"stop"_s}));
        QCOMPARE(services_.calls, (QStringList{u"status"_s, u"stop"_s, u"status"_s}));
    }

    void stopAndQuitEndsAfterTheFollowUp() {
        launchLinked();
        services_.result = {{}, u"cannot stop"_s, 3};
        int terminationsAtAlert = -1;
        alert_.whileShown = [&] { terminationsAtAlert = terminations_; };
        item(16)->trigger();
        QVERIFY(services_.completeNext());
        QCOMPARE(terminationsAtAlert, 0);
        QCOMPARE(terminations_, 0);
        QVERIFY(services_.completeNext());
        QCOMPARE(terminations_, 1);
        QCOMPARE(services_.calls, (QStringList{u"status"_s, u"stop"_s, u"status"_s}));
    }

    void quitKeyRunsNothing() {
        launchLinked();
        tray_.menu->popup(QPoint(0, 0));
        QVERIFY(QTest::qWaitForWindowExposed(tray_.menu));
        QTest::keyClick(tray_.menu, Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(terminations_, 1);
        services_.completeAll();
        QVERIFY(!services_.calls.contains(u"stop"_s));
    }

    void opensPages() {
        launch(true);
        item(12)->trigger();
        item(11)->trigger();
        QCOMPARE(opener_.opened,
                 (QList<QUrl>{QUrl(AppTexts::localConsoleURL), QUrl(korvan::defaultHubURL)}));
    }

    void firstStartRegistersOnce_data() {
        QTest::addColumn<std::optional<QString>>("failure");
        QTest::newRow("registered") << std::optional<QString>();
        QTest::newRow("failed, silently") << std::optional<QString>(u"no"_s);
    }
    void firstStartRegistersOnce() {
        QFETCH(std::optional<QString>, failure);
        prefs_.values.clear();
        login_.failure = failure;
        launch(true);
        QCOMPARE(login_.registrations, 1);
        QCOMPARE(prefs_.values.value(u"didConfigureLoginItem"_s), !failure);
        QCOMPARE(item(14)->isChecked(), !failure);
        QCOMPARE(alert_.shown, QStringList());
        login_.failure.reset();
        launch(true); // tries again only when the first start failed
        QCOMPARE(login_.registrations, failure ? 2 : 1);
    }

    void toggleLoginItem_data() {
        QTest::addColumn<LoginItemStatus>("status");
        QTest::addColumn<bool>("registers");
        QTest::newRow("enabled") << LoginItemStatus::enabled << false;
        QTest::newRow("not registered") << LoginItemStatus::notRegistered << true;
        QTest::newRow("requires approval") << LoginItemStatus::requiresApproval << true;
    }
    void toggleLoginItem() {
        QFETCH(LoginItemStatus, status);
        QFETCH(bool, registers);
        login_.current = status;
        launch(false);
        QCOMPARE(item(14)->isChecked(), !registers);
        item(14)->trigger();
        QCOMPARE(login_.registrations, int(registers));
        QCOMPARE(login_.unregistrations, int(!registers));
        QCOMPARE(item(14)->isChecked(), registers);
        login_.failure = u" denied \n"_s;
        item(14)->trigger();
        QCOMPARE(alert_.shown, (QStringList{AppTexts::errorMessage, u"denied"_s}));
        QCOMPARE(item(14)->isChecked(), registers);
        login_.current = LoginItemStatus::enabled; // switched on elsewhere
        opened();
        QVERIFY(item(14)->isChecked());
    }

    void iconReplacedOnlyWhenItChanges_data() {
        QTest::addColumn<ServiceSnapshot>("first");
        QTest::addColumn<ServiceSnapshot>("second");
        QTest::addColumn<int>("changes");
        ServiceSnapshot moreMemory = kLinked;
        moreMemory.agentMemoryKB = 1;
        ServiceSnapshot bridgeUp = kDisabled;
        bridgeUp.bridge = u"online"_s;
        QTest::newRow("memory changes") << kLinked << moreMemory << 0;
        QTest::newRow("stopped, bridge comes up") << kDisabled << bridgeUp << 0;
        QTest::newRow("linked to failed") << kLinked << kFailed << 1;
    }
    void iconReplacedOnlyWhenItChanges() {
        QFETCH(ServiceSnapshot, first);
        QFETCH(ServiceSnapshot, second);
        services_.report = first;
        launch(true);
        services_.completeAll();
        const int before = tray_.symbolChanges;
        services_.report = second;
        fire(5000);
        services_.completeAll();
        QTEST(tray_.symbolChanges - before, "changes");
    }

    void pairingConsumesFirstRefresh() {
        services_.report = kFailed;
        launch(false);
        pairingWindow()->findChildren<QLineEdit*>().at(1)->setText(u"abcd"_s);
        pairingWindow()->findChild<QPushButton*>()->click();
        QCOMPARE(services_.enrollments.size(), 1);
        QVERIFY(services_.completeNext());
        QCOMPARE(services_.calls, QStringList{u"status"_s});
        services_.completeAll();
        QCOMPARE(services_.calls, QStringList{u"status"_s});
        QCOMPARE(lines().first(), StatusText::stateFailed);
        QCOMPARE(enabled(), u"111"_s);
    }

    void urlEntry_data() {
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<QString>("code"); // null: no window
        QTest::newRow("web address alone") << QStringList{u"https://e.org/?code=x"_s} << QString();
        QTest::newRow("argument that is no url") << QStringList{u"-platform"_s} << QString();
        QTest::newRow("first korvan link after a web address")
            << QStringList{u"https://e.org/?code=web"_s, u"KORVAN://p?code=ab"_s,
                           u"korvan://p?code=third"_s}
            << u"AB"_s;
        QTest::newRow("korvan link without query") << QStringList{u"korvan:"_s} << u""_s;
    }
    void urlEntry() {
        QFETCH(QStringList, urls);
        QFETCH(QString, code);
        launch(true);
        QList<QUrl> list;
        for (const QString& u : urls)
            list << QUrl(u);
        d_->openURLs(list);
        QCOMPARE(pairingWindow() != nullptr, !code.isNull());
        if (!code.isNull())
            QCOMPARE(pairingWindow()->findChildren<QLineEdit*>().at(1)->text(), code);
    }

    void trayWaitsForAHost_data() {
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("firingsWithoutHost"); // then shown anyway
        QTest::newRow("host turns up") << 150 << 0;
        QTest::newRow("limit reached") << 3 << 3;
    }
    void trayWaitsForAHost() {
        QFETCH(int, limit);
        QFETCH(int, firingsWithoutHost);
        retryLimit_ = limit;
        tray_.available = false;
        launch(true);
        for (int i = 1; i < firingsWithoutHost; ++i)
            fire(2000);
        QVERIFY(!tray_.shown);
        tray_.available = !firingsWithoutHost;
        fire(2000);
        QVERIFY(tray_.shown);
    }
};

QTEST_MAIN(AppDelegateTest)
#include "tst_AppDelegate.moc"
