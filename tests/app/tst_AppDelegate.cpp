// The tray controller against recording fakes: the menu is read through the
// QMenu handed to the fake tray; each service call completes when told to.
#include "KorvanConfig.h"
#include "app/AppDelegate.h"
#include "app/AppTexts.h"
#include "app/QuitSignals.h"
#include "core/PairingTexts.h"
#include "fakes/FakePlatform.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <csignal>

using namespace Qt::StringLiterals;
using Texts = QStringList;

namespace {

const ServiceSnapshot kLinked{u"enabled"_s, u"online"_s, u"online"_s, u"online"_s, 51200, 20480};
const ServiceSnapshot kFailed{u"enabled"_s, u"stopped"_s, u"stopped"_s, u"offline"_s, 0, 0};
const ServiceSnapshot kDisabled{u"disabled"_s, u"stopped"_s, u"stopped"_s, u"offline"_s, 0, 0};
enum Row { kStart = 7, kStop, kRestart, kMobile = 11, kLocal, kPairing, kLogin, kStopAndQuit = 16 };

QLineEdit* pairingCodeField() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->windowTitle() == PairingTexts::windowTitle && w->isVisible())
            return w->findChildren<QLineEdit*>().at(1);
    }
    return nullptr;
}

Texts words(const char* spaced) {
    return QString::fromLatin1(spaced).split(u' ', Qt::SkipEmptyParts);
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
    std::unique_ptr<AppDelegate> d_;

    // Without `terminate`, quitting only counts.
    void launch(bool paired, const ServiceSnapshot& report = kLinked, int trayRetryLimit = 150,
                std::function<void()> terminate = {}) {
        services_.paired = paired;
        services_.report = report;
        AppDelegate::Platform p{&alert_, &login_, &prefs_, &opener_, &tray_};
        p.terminate = terminate ? terminate : [this] { ++terminations_; };
        p.trayRetryLimit = trayRetryLimit;
        d_ = std::make_unique<AppDelegate>(services_, p);
        d_->applicationDidFinishLaunching();
    }
    QAction* item(int row) const { return tray_.menu->actions().at(row); }
    void trigger(int row) const { item(row)->trigger(); }
    bool shows(const Presentation& p) const {
        const auto text = [this](int row) { return item(row)->text(); };
        const auto on = [this](int row) { return item(row)->isEnabled(); };
        return p == Presentation{text(1),    text(2),   text(3),      text(4),      text(5),
                                 on(kStart), on(kStop), on(kRestart), tray_.symbol, tray_.tint};
    }
    // One firing of the delegate's repeating timer of this interval, without waiting.
    void fire(int intervalMs) {
        for (QTimer* t : d_->findChildren<QTimer*>()) {
            QTimerEvent event(t->timerId());
            if (t->interval() == intervalMs && t->isActive() && !t->isSingleShot())
                QCoreApplication::sendEvent(t, &event);
        }
        QCoreApplication::processEvents();
    }
    void opened() { Q_EMIT tray_.menu->aboutToShow(); }

private Q_SLOTS:
    void init() {
        services_ = FakeServices();
        tray_ = FakeTray();
        alert_ = FakeAlert();
        prefs_.values = {{u"didConfigureLoginItem"_s, true}};
        login_ = FakeLoginItem();
        terminations_ = 0;
    }
    void cleanup() {
        d_.reset();
        QCOMPARE(tray_.menu, nullptr);
    }

    void unpairedStart() {
        launch(false);
        Texts titles;
        QString enabled;
        for (QAction* a : tray_.menu->actions()) {
            titles << (a->isSeparator() ? u"-"_s : a->text());
            enabled += a->isEnabled() ? u'1' : u'0';
        }
        using namespace AppTexts;
        const Presentation p = Presentation::unpaired();
        QCOMPARE(titles, (Texts{productName, p.stateLine, p.bridgeLine, p.agentLine, p.hubLine,
                                p.memoryLine, u"-"_s, startTitle, stopTitle, restartTitle, u"-"_s,
                                openMobileTitle, openLocalTitle, pairingTitle, loginItemTitle,
                                u"-"_s, stopAndQuitTitle, quitTitle}));
        QCOMPARE(enabled, u"000000100011111111"_s);
        QCOMPARE(item(17)->shortcut(), QKeySequence(u"Ctrl+Q"_s));
        QVERIFY(shows(p) && tray_.shown && pairingCodeField() && tray_.toolTip == productName);
        fire(5000); // nothing to ask an unpaired machine
        opened();
        pairingCodeField()->window()->hide();
        trigger(kPairing);
        QVERIFY(pairingCodeField());
        trigger(kLocal);
        trigger(kMobile);
        QCOMPARE(opener_.opened,
                 (QList<QUrl>{QUrl(AppTexts::localConsoleURL), QUrl(korvan::defaultHubURL)}));
        trigger(17); // quit
        QCOMPARE(terminations_, 1);
        QCOMPARE(services_.calls, Texts());
    }

    void pairedRefreshesUnlessBusy() {
        launch(true);
        QVERIFY(shows(Presentation::checking()) && !pairingCodeField());
        QVERIFY(services_.completeNext());
        const int iconChanges = tray_.symbolChanges;
        services_.report.agentMemoryKB = 1; // the same icon is left alone
        fire(5000);
        opened();
        services_.completeAll();
        QCOMPARE(tray_.symbolChanges, iconChanges);
        trigger(kRestart);
        QVERIFY(shows(Presentation::of(services_.report, true)));
        fire(5000);
        opened();
        trigger(kStopAndQuit);
        services_.report = kDisabled;
        services_.completeAll();
        QVERIFY(shows(Presentation::of(kDisabled, false)));
        d_->applicationWillTerminate();
        fire(5000);
        QCOMPARE(services_.calls, words("status status status restart status"));
        QCOMPARE(terminations_ + alert_.shown.size(), 0);
    }

    void firstReportStartsOnce_data() {
        QTest::addColumn<ServiceSnapshot>("report");
        QTest::addColumn<bool>("starting"); // the user starts before the first report
        QTest::addColumn<Texts>("calls");   // after the first report, and a later failed one
        QTest::newRow("failed") << kFailed << false << words("status start status status");
        QTest::newRow("connecting") << ServiceSnapshot{u"enabled"_s, {}, u"online"_s, {}, 0, 0}
                                    << false << words("status start status status");
        QTest::newRow("linked") << kLinked << false << words("status status");
        QTest::newRow("disabled") << kDisabled << false << words("status status");
        QTest::newRow("while starting") << kFailed << true << words("status start status status");
    }
    void firstReportStartsOnce() {
        QFETCH(ServiceSnapshot, report);
        QFETCH(bool, starting);
        launch(true, report);
        if (starting)
            trigger(kStart);
        QVERIFY(services_.completeNext());
        services_.report = kFailed;
        services_.completeAll();
        fire(5000);
        services_.completeAll();
        QTEST(services_.calls, "calls");
    }

    void commandAlertsBeforeTheFollowUp_data() {
        QTest::addColumn<CommandResult>("result");
        QTest::addColumn<bool>("quits"); // stop and quit, rather than stop
        QTest::addColumn<Texts>("alert");
        const QString title = AppTexts::errorMessage;
        QTest::newRow("error") << CommandResult{u"x"_s, u"boom\n"_s, 1} << false
                               << Texts{title, u"boom"_s};
        QTest::newRow("else output, and quit")
            << CommandResult{u"\t o \n"_s, {}, 2} << true << Texts{title, u"o"_s};
        QTest::newRow("error of a line feed")
            << CommandResult{u"o"_s, u"\n"_s, 1} << false << Texts{title, QString()};
        QTest::newRow("success with error text, and quit")
            << CommandResult{{}, u"warning"_s, 0} << true << Texts();
    }
    void commandAlertsBeforeTheFollowUp() {
        QFETCH(CommandResult, result);
        QFETCH(bool, quits);
        launch(true);
        QVERIFY(services_.completeNext());
        services_.result = result;
        Texts callsAtAlert = words("status stop");
        alert_.whileShown = [&] { callsAtAlert = services_.calls; };
        trigger(quits ? kStopAndQuit : kStop);
        QVERIFY(services_.completeNext());
        QTEST(alert_.shown, "alert");
        QCOMPARE(callsAtAlert, words("status stop"));
        QCOMPARE(terminations_, 0); // quitting waits for the follow-up
        QVERIFY(services_.completeNext());
        QCOMPARE(terminations_, int(quits));
        QCOMPARE(services_.calls, words("status stop status"));
    }

    // Every quit ends the application's loop at once, whatever the pairing
    // window is doing; one asked for while an alert is up asks the script for
    // nothing more, and a report that arrives under the alert is shown there.
    void quitEndsTheLoopAtOnce_data() {
        QTest::addColumn<int>(
            "how"); // a signal; 0: the quit item while pairing, -1: under an alert
        QTest::addColumn<Texts>("calls");
        QTest::newRow("item while pairing") << 0 << Texts();
        QTest::newRow("item under an alert") << -1 << words("status stop status");
        QTest::newRow("SIGTERM") << SIGTERM << words("status");
        QTest::newRow("SIGINT") << SIGINT << words("status");
        QTest::newRow("SIGHUP") << SIGHUP << words("status");
    }
    void quitEndsTheLoopAtOnce() {
        QFETCH(int, how);
        QuitSignals quitSignals;
        launch(how != 0, kLinked, 150, AppDelegate::Platform().terminate);
        connect(&quitSignals, &QuitSignals::received, d_.get(), &AppDelegate::quit);
        services_.completeNext();
        if (how == 0) {
            pairingCodeField()->setText(u"abcd"_s);
            pairingCodeField()->window()->findChild<QPushButton*>()->click();
        }
        services_.result = {{}, u"x"_s, 1};
        if (how < 0)
            trigger(kStop);
        bool shownUnderAlert = false;
        alert_.whileShown = [&] {
            fire(5000);
            services_.report = kDisabled;
            services_.completeNext();
            shownUnderAlert = shows(Presentation::of(kDisabled, false));
            trigger(17);
        };
        QTimer deadline;
        deadline.callOnTimeout([] { QCoreApplication::exit(1); });
        deadline.start(10000);
        QTimer::singleShot(0, d_.get(), [&] {
            how > 0   ? void(std::raise(how))
            : how < 0 ? void(services_.completeNext())
                      : trigger(17);
        });
        QCOMPARE(QCoreApplication::exec(), 0);
        QTEST(services_.calls, "calls");
        QCOMPARE(shownUnderAlert, how < 0);
    }

    void loginItem_data() {
        QTest::addColumn<bool>("configured");
        QTest::addColumn<LoginItemStatus>("status");
        QTest::addColumn<bool>("fails");       // at start and at the toggle
        QTest::addColumn<Texts>("checkmarks"); // at start, after the toggle, after another start
        QTest::newRow("first start registers once")
            << false << LoginItemStatus::notRegistered << false << words("1 0 0");
        QTest::newRow("first start fails silently, tries again")
            << false << LoginItemStatus::notRegistered << true << words("0 0 1");
        QTest::newRow("enabled: toggle unregisters")
            << true << LoginItemStatus::enabled << false << words("1 0 0");
        QTest::newRow("requires approval: toggle registers")
            << true << LoginItemStatus::requiresApproval << false << words("0 1 1");
        QTest::newRow("toggle fails") << true << LoginItemStatus::enabled << true << words("1 1 1");
    }
    void loginItem() {
        QFETCH(bool, configured);
        QFETCH(LoginItemStatus, status);
        QFETCH(bool, fails);
        prefs_.values[u"didConfigureLoginItem"_s] = configured;
        login_.current = status;
        if (fails)
            login_.failure = u" no \n"_s;
        launch(false);
        Texts checkmarks{QString::number(item(kLogin)->isChecked())};
        QCOMPARE(alert_.shown, Texts());
        trigger(kLogin);
        checkmarks << QString::number(item(kLogin)->isChecked());
        QCOMPARE(alert_.shown, fails ? (Texts{AppTexts::errorMessage, u"no"_s}) : Texts());
        login_.failure.reset();
        launch(false);
        QVERIFY(prefs_.values.value(u"didConfigureLoginItem"_s));
        QTEST(checkmarks << QString::number(item(kLogin)->isChecked()), "checkmarks");
        login_.current = LoginItemStatus::enabled; // switched on elsewhere
        opened();
        QVERIFY(item(kLogin)->isChecked());
    }

    void pairingAndLinks() {
        launch(false, kFailed);
        pairingCodeField()->setText(u"abcd"_s);
        pairingCodeField()->window()->findChild<QPushButton*>()->click();
        services_.completeAll(); // pairing uses up the first refresh
        QCOMPARE(services_.calls, words("status"));
        QVERIFY(shows(Presentation::of(kFailed, false)));
        pairingCodeField()->window()->hide();
        d_->openURLs({QUrl(u"https://e/?code=x"_s), QUrl(u"-platform"_s)});
        QVERIFY(!pairingCodeField());
        d_->openURLs({QUrl(u"https://e/?code=w"_s), QUrl(u"KORVAN://p?code=ab"_s),
                      QUrl(u"korvan:?code=c"_s)});
        QCOMPARE(pairingCodeField()->text(), u"AB"_s); // the first korvan link
    }

    void trayWaitsForAHost() {
        for (bool terminating : {false, true}) {
            tray_.shown = tray_.available = false;
            launch(true, kLinked, 3);
            if (terminating)
                d_->applicationWillTerminate();
            fire(2000);
            fire(2000);
            QVERIFY(!tray_.shown);
            fire(2000); // shown anyway at the limit
            QCOMPARE(tray_.shown, !terminating);
        }
        tray_.shown = tray_.available = false;
        launch(true);
        tray_.available = true;
        fire(2000);
        QVERIFY(tray_.shown);
    }
};

QTEST_MAIN(AppDelegateTest)
#include "tst_AppDelegate.moc"
