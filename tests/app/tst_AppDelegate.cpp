// The tray controller against recording fakes, its menu read through the fake tray.
#include "app/AppDelegate.h"
#include "app/AppTexts.h"
#include "core/PairingTexts.h"
#include "fakes/FakePlatform.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::StringLiterals;
using Texts = QStringList;

namespace {

const ServiceSnapshot kLinked{u"enabled"_s, u"online"_s, u"online"_s, u"online"_s, 51200, 20480};
const ServiceSnapshot kFailed{u"enabled"_s, u"stopped"_s, u"stopped"_s, u"offline"_s, 0, 0};
const ServiceSnapshot kConnecting{u"enabled"_s, {}, u"online"_s, {}, 0, 0};
const ServiceSnapshot kDisabled{u"disabled"_s, u"stopped"_s, u"stopped"_s, u"offline"_s, 0, 0};
enum Row { kStart = 7, kStop, kRestart, kMobile = 11, kLogin = 14, kStopAndQuit = 16, kQuit };

QLineEdit* pairingCodeField() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->windowTitle() == PairingTexts::windowTitle && w->isVisible())
            return w->findChildren<QLineEdit*>().at(1);
    return nullptr;
}

} // namespace

class AppDelegateTest : public QObject {
    Q_OBJECT

    FakeServices services_;
    FakeTray tray_;
    FakeAlert alert_;
    FakeUrlOpener opener_;
    SettingsPreferences prefs_; // in Qt's test-mode folder
    FakeLoginItem login_;
    int terminations_ = 0;
    std::unique_ptr<AppDelegate> d_;

    void launch(bool paired, const ServiceSnapshot& r = kLinked, std::function<void()> end = {}) {
        services_.paired = paired;
        services_.report = r;
        AppDelegate::Platform p{&alert_, &login_, &prefs_, &opener_, &tray_};
        p.terminate = end ? end : [this] { ++terminations_; }; // by default only counted
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
    // A tick of the delegate's timer of this interval, then the menu opening.
    void fire(int intervalMs, bool open = false) {
        for (QTimer* t : d_->findChildren<QTimer*>()) {
            QTimerEvent event(t->timerId());
            if (t->interval() == intervalMs && t->isActive() && !t->isSingleShot())
                QCoreApplication::sendEvent(t, &event);
        }
        QCoreApplication::processEvents();
        if (open)
            Q_EMIT tray_.menu->aboutToShow();
    }
    void pair() {
        pairingCodeField()->setText(u"abcd"_s);
        pairingCodeField()->window()->findChild<QPushButton*>()->click();
    }

private Q_SLOTS:
    void init() {
        services_ = FakeServices();
        tray_ = FakeTray();
        alert_ = FakeAlert();
        QStandardPaths::setTestModeEnabled(true);
        QSettings().clear();
        prefs_.setBoolValue(u"didConfigureLoginItem"_s, true);
        login_ = FakeLoginItem();
        terminations_ = 0;
    }
    void cleanup() { QVERIFY((d_.reset(), tray_.menu == nullptr)); }

    void unpairedStartThenPairing() {
        QSettings().clear();
        login_.failure = u" no \n"_s; // a first start that fails says nothing
        launch(false, kFailed);
        QString enabled;
        for (QAction* a : tray_.menu->actions())
            enabled += a->isSeparator() ? u'-' : a->isEnabled() ? u'1' : u'0';
        QCOMPARE(enabled, u"000000-000-1111-11"_s);
        QVERIFY(shows(Presentation::unpaired()) && tray_.shown && pairingCodeField() &&
                tray_.toolTip == AppTexts::productName && alert_.shown.isEmpty() &&
                !prefs_.boolValue(u"didConfigureLoginItem"_s));
        fire(5000, true); // nothing to ask an unpaired machine
        QCOMPARE(services_.calls, Texts());
        pair();
        services_.completeAll(); // pairing uses up the first refresh: no start
        QCOMPARE(services_.calls, Texts{u"status"_s});
        QVERIFY(shows(Presentation::of(kFailed, false)));
        trigger(kMobile);
        d_->openURLs({QUrl(u"https://e/?code=x"_s), QUrl(u"korvan:?code=ab"_s)});
        QVERIFY(pairingCodeField()->text() == u"AB" && opener_.opened.size() == 1);
    }

    void pairedStart() {
        QSettings().clear();
        launch(true);
        QVERIFY(item(kLogin)->isChecked() && prefs_.boolValue(u"didConfigureLoginItem"_s));
        login_.current = LoginItemStatus::requiresApproval; // switched elsewhere
        QVERIFY(shows(Presentation::checking()) && !pairingCodeField());
        QVERIFY(services_.completeNext());
        const int iconChanges = tray_.symbolChanges;
        services_.report.agentMemoryKB = 1; // the same icon is left alone
        fire(5000, true);
        services_.completeAll();
        QVERIFY(tray_.symbolChanges == iconChanges && !item(kLogin)->isChecked());
        trigger(kRestart);
        QVERIFY(shows(Presentation::of(services_.report, true)));
        fire(5000, true);
        trigger(kStopAndQuit);
        services_.report = kDisabled;
        services_.completeAll();
        QVERIFY(shows(Presentation::of(kDisabled, false)));
        d_->applicationWillTerminate();
        fire(5000);
        QCOMPARE(services_.calls.join(u' '), u"status status status restart status"_s);
        QCOMPARE(terminations_ + alert_.shown.size(), 0);
    }

    // A failed command alerts before its follow-up; any command uses up the first-report rule.
    void firstReportAndCommands_data() {
        QTest::addColumn<ServiceSnapshot>("report");
        QTest::addColumn<int>("row"); // a command, before the first report arrives
        QTest::addColumn<CommandResult>("result");
        QTest::addColumn<QString>("calls"); // then a refresh, with a failed report
        QTest::addColumn<QString>("alert");
        const CommandResult ok, error{u"x"_s, u"boom\n"_s, 1}, output{u"\t o \n"_s, {}, 2};
        const QString starts = u"status start status status"_s, stops = u"status stop status"_s;
        QTest::newRow("connecting") << kConnecting << 0 << ok << starts << QString();
        QTest::newRow("linked") << kLinked << 0 << ok << u"status status"_s << QString();
        QTest::newRow("starting") << kFailed << +kStart << ok << starts << QString();
        QTest::newRow("stop fails")
            << kFailed << +kStop << error << stops + u" status" << u"boom"_s;
        QTest::newRow("quit, output") << kLinked << +kStopAndQuit << output << stops << u"o"_s;
        QTest::newRow("quit") << kLinked << +kStopAndQuit << CommandResult{{}, u"w"_s, 0} << stops
                              << QString();
    }
    void firstReportAndCommands() {
        QFETCH(ServiceSnapshot, report);
        QFETCH(int, row);
        QFETCH(CommandResult, result);
        QFETCH(QString, alert);
        launch(true, report);
        services_.result = result;
        Texts callsAtAlert;
        alert_.whileShown = [&] { callsAtAlert = services_.calls; };
        if (row)
            trigger(row);
        services_.completeAll();
        services_.report = kFailed;
        fire(5000);
        services_.completeAll();
        QTEST(services_.calls.join(u' '), "calls");
        QCOMPARE(alert_.shown, alert.isNull() ? Texts() : (Texts{AppTexts::errorMessage, alert}));
        QCOMPARE(callsAtAlert, alert.isNull() ? Texts() : (Texts{u"status"_s, u"stop"_s}));
        QCOMPARE(terminations_, int(row == kStopAndQuit));
    }

    // Quitting ends the loop at once, while pairing too; under an alert, no more runs.
    void quitEndsTheLoopAtOnce() {
        for (bool alert : {false, true}) {
            init();
            launch(alert, kLinked, AppDelegate::Platform().terminate);
            services_.completeNext();
            services_.result = {{}, u"x"_s, 1};
            alert ? trigger(kStop) : pair();
            alert_.whileShown = [&] {
                fire(5000);
                services_.completeNext(); // from switching: the same symbol, another tint
                QVERIFY(shows(Presentation::of(kLinked, false)));
                trigger(kQuit);
            };
            QTimer deadline;
            deadline.callOnTimeout([] { QCoreApplication::exit(1); });
            deadline.start(10000);
            QTimer::singleShot(0, d_.get(),
                               [&] { alert ? void(services_.completeNext()) : trigger(kQuit); });
            QCOMPARE(QCoreApplication::exec(), 0);
            QCOMPARE(services_.calls.join(u' '), alert ? u"status stop status"_s : QString());
        }
    }
};

QTEST_MAIN(AppDelegateTest)
#include "tst_AppDelegate.moc"
