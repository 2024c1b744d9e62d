// The tray controller against recording fakes, its menu read through the fake tray.
#include "app/AppDelegate.h"
#include "app/AppTexts.h"
#include "core/StatusText.h"
#include "core/TextRules.h"
#include "fakes/FakePlatform.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Texts = QStringList;

namespace {

const ServiceSnapshot kLinked{u"enabled"_s, u"online"_s, u"online"_s, u"online"_s, 51200, 20480};
const ServiceSnapshot kFailed{u"enabled"_s, u"stopped"_s, u"stopped"_s, u"offline"_s, 0, 0};
const ServiceSnapshot kConnecting{u"enabled"_s, {}, u"online"_s, {}, 0, 0};
const ServiceSnapshot kDisabled{u"disabled"_s, u"stopped"_s, u"stopped"_s, u"offline"_s, 0, 0};
enum Row { kStart = 7, kStop, kRestart, kMobile = 11, kLogin = 14, kStopAndQuit = 16, kQuit };

// One thing the user or the services do: a tick (the refresh timer, then the menu opening), a
// menu item chosen, or the pending call at an index completed (the n-th one reports n MB).
struct Step {
    enum Kind { tick, pair, commandsFail, dismiss, menuItem, completion } kind;
    int index = 0;
    Step(Kind k = tick, int i = 0) : kind(k), index(i) {}
};
using Steps = QList<Step>;

QLineEdit* pairingCodeField() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == u"pairingWindow" && w->isVisible())
            return w->findChild<QLineEdit*>(u"pairCodeField"_s);
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
    int logFd_ = STDERR_FILENO;
    std::unique_ptr<AppDelegate> d_;

    void launch(bool paired, const ServiceSnapshot& r = kLinked, std::function<void()> end = {}) {
        services_.paired = paired;
        services_.report = r;
        AppDelegate::Platform p{&alert_, &login_, &prefs_, &opener_, &tray_};
        p.terminate = end ? end : [this] { ++terminations_; }; // by default only counted
        p.errorLogFd = logFd_;
        d_ = std::make_unique<AppDelegate>(services_, p);
        d_->applicationDidFinishLaunching();
    }
    QAction* item(int row) const { return tray_.menu->actions().at(row); }
    void trigger(int row) const { item(row)->trigger(); }
    // The menu's lines and commands, and the tray's icon.
    Presentation shown() const {
        const auto text = [this](int row) { return item(row)->text(); };
        const auto on = [this](int row) { return item(row)->isEnabled(); };
        return {text(1),    text(2),   text(3),      text(4),      text(5),
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
        pairingCodeField()->window()->findChild<QPushButton*>(u"connectButton"_s)->click();
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
        logFd_ = STDERR_FILENO;
    }
    void cleanup() { QVERIFY((d_.reset(), tray_.menu == nullptr)); }

    void unpairedStartThenPairing() {
        QSettings().clear();
        login_.failure = u" no \n"_s; // a first start that fails says nothing
        launch(false, kFailed);
        for (int row = 0; row <= 5; ++row) // the title and the information lines
            QVERIFY2(!item(row)->isEnabled(), qPrintable(item(row)->text()));
        for (QAction* a : tray_.menu->actions().sliced(kMobile)) // the items below the commands
            QVERIFY2(a->isSeparator() || a->isEnabled(), qPrintable(a->text()));
        Texts titles; // from the commands down; an empty one is a separator
        for (QAction* a : tray_.menu->actions().sliced(kStart))
            titles << a->text();
        QCOMPARE(titles, (Texts{u"启动 Korvan Remote"_s,
                                u"停止并释放内存"_s,
                                u"重新启动"_s,
                                {},
                                u"打开 Korvan 移动端"_s,
                                u"打开本地控制台"_s,
                                u"连接账号与 Mac..."_s,
                                u"登录 Mac 时启动控制器"_s,
                                {},
                                u"停止服务并退出"_s,
                                u"退出控制器"_s}));
        QCOMPARE(shown(), Presentation::unpaired());
        QVERIFY(tray_.shown);
        QVERIFY(pairingCodeField());
        QCOMPARE(tray_.toolTip, u"Korvan Remote"_s);
        QCOMPARE(alert_.shown, Texts());
        QCOMPARE(prefs_.boolValue(u"didConfigureLoginItem"_s), false);
        fire(5000, true); // nothing to ask an unpaired machine
        QCOMPARE(services_.calls, Texts());
        pair();
        services_.completeAll(); // pairing uses up the first refresh: no start
        QCOMPARE(services_.calls, Texts{u"status"_s});
        QCOMPARE(shown(), Presentation::of(kFailed, false));
        trigger(kMobile);
        trigger(kMobile + 1);
        d_->openURLs({QUrl(u"https://e/?code=x"_s), QUrl(u"korvan:?code=ab"_s)});
        QCOMPARE(pairingCodeField()->text(), u"AB"_s);
        trigger(kLogin); // a switch that fails says why
        QCOMPARE(alert_.shown.value(1), u"no"_s);
        QCOMPARE(
            opener_.opened, // the two pages, not the other link
            (QList<QUrl>{QUrl(u"https://hub.korvan.example"_s), QUrl(u"http://127.0.0.1:8796"_s)}));
    }

    void pairedStart() {
        QSettings().clear();
        launch(true);
        QVERIFY(item(kLogin)->isChecked());
        QVERIFY(prefs_.boolValue(u"didConfigureLoginItem"_s));
        login_.current = LoginItemStatus::requiresApproval; // switched elsewhere
        QCOMPARE(shown(), Presentation::checking());
        QCOMPARE(item(5)->text(), u"当前占用: --"_s); // no memory known yet
        QCOMPARE(pairingCodeField(), nullptr);
        QVERIFY(services_.completeNext());
        QCoreApplication::processEvents(); // the pictures drawn, nothing is left to run
        QCOMPARE(std::ranges::count_if(d_->findChildren<QTimer*>(),
                                       [](QTimer* t) { return t->isActive() && !t->interval(); }),
                 0);
        const int iconChanges = tray_.symbolChanges;
        services_.report.agentMemoryKB = 1; // the same icon is left alone
        fire(5000, true);
        services_.completeAll();
        QCOMPARE(tray_.symbolChanges, iconChanges);
        QVERIFY(!item(kLogin)->isChecked());
        trigger(kRestart);
        QCOMPARE(shown(), Presentation::of(services_.report, true));
        fire(5000, true);
        trigger(kStopAndQuit);
        services_.report = kDisabled;
        services_.completeAll();
        QCOMPARE(shown(), Presentation::of(kDisabled, false));
        d_->applicationWillTerminate();
        fire(5000);
        QCOMPARE(services_.calls, (Texts{u"status"_s, u"status"_s, u"restart"_s, u"status"_s}));
        QCOMPARE(terminations_, 0);
        QCOMPARE(alert_.shown, Texts());
    }

    // A failed command alerts before its follow-up; any command uses up the first-report rule.
    void firstReportAndCommands_data() {
        QTest::addColumn<ServiceSnapshot>("report");
        QTest::addColumn<int>("row"); // a command, before the first report arrives
        QTest::addColumn<CommandResult>("result");
        QTest::addColumn<Texts>("calls"); // then a refresh, with a failed report
        QTest::addColumn<QString>("alert");
        const CommandResult ok, error{u"x"_s, u"boom\n"_s, 1}, output{u"\t o \n"_s, {}, 2};
        const QString status = u"status"_s, start = u"start"_s, stop = u"stop"_s;
        const Texts starts{status, start, status, status}, stops{status, stop, status};
        QTest::newRow("connecting") << kConnecting << 0 << ok << starts << QString();
        QTest::newRow("linked") << kLinked << 0 << ok << Texts{status, status} << QString();
        QTest::newRow("starting") << kFailed << +kStart << ok << starts << QString();
        QTest::newRow("stop fails")
            << kFailed << +kStop << error << stops + Texts{status} << u"boom"_s;
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
        if (row)
            trigger(row);
        services_.completeAll();
        const Texts callsAtAlert = alert_.open.isEmpty() ? Texts() : services_.calls;
        alert_.dismiss();
        services_.completeAll();
        services_.report = kFailed;
        fire(5000);
        services_.completeAll();
        QTEST(services_.calls, "calls");
        QCOMPARE(alert_.shown,
                 alert.isNull() ? Texts() : (Texts{u"Korvan 无法完成操作"_s, alert, u"知道了"_s}));
        QCOMPARE(callsAtAlert, alert.isNull() ? Texts() : (Texts{u"status"_s, u"stop"_s}));
        QCOMPARE(terminations_, int(row == kStopAndQuit));
    }

    // The whole text goes to the error log, as much as fits at once; the alert shows an excerpt.
    void longError_data() {
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("room");   // free in the log's pipe
        QTest::addColumn<int>("logged"); // bytes of the text's UTF-8 that reach it, if any
        const QString mb = u"中中\n"_s.repeated(150000); // a character cut at 64 KiB
        QTest::newRow("1 MB") << mb << (1 << 20) << 65534;
        QTest::newRow("a full pipe") << mb << 0 << -1;
    }
    void longError() {
        QFETCH(QString, error);
        QFETCH(int, room);
        QFETCH(int, logged);
        int fds[2];
        QCOMPARE(::pipe2(fds, O_CLOEXEC), 0);
        const int size = ::fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
        QCOMPARE(::write(fds[1], QByteArray(size - room, '-').constData(), size - room),
                 ssize_t(size - room));
        logFd_ = fds[1];
        launch(true);
        services_.result = {{}, error, 1};
        trigger(kStop);
        services_.completeAll();
        QByteArray log(2 << 20, '\0');
        log.truncate(::read(fds[0], log.data(), log.size()));
        ::close(fds[0]), ::close(fds[1]);
        const QByteArray record = "korvan-controller: " + error.toUtf8().left(logged) + '\n';
        QCOMPARE(log.mid(size - room), logged < 0 ? QByteArray() : record);
        QCOMPARE(alert_.shown.value(1), text::alertExcerpt(error.trimmed()));
    }

    // No status run beside a running one, no late report over a newer one, nothing held up by an
    // alert.
    void hungStatus_data() {
        QTest::addColumn<bool>("paired");
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<Texts>("calls");
        QTest::addColumn<int>("shown"); // the completion whose report the menu shows
        QTest::addColumn<int>("quits");
        using enum Step::Kind;
        const auto choose = [](Row row) { return Step{menuItem, row}; };
        const auto complete = [](int call) { return Step{completion, call}; };
        const QString status = u"status"_s, start = u"start"_s;
        QTest::newRow("ticks wait for the run")
            << true << Steps{tick, tick, complete(0), complete(0), complete(0), tick}
            << Texts{status, start, status, status} << 3 << 0;
        QTest::newRow("ticks under an alert; a quit leaves no follow-up")
            << true << Steps{complete(0), commandsFail,  complete(0), tick,
                             complete(0), choose(kQuit), dismiss}
            << Texts{status, start, status} << 3 << 1;
        QTest::newRow("a late report is dropped, the next one starts")
            << true
            << Steps{choose(kRestart), complete(1), complete(1), complete(0), tick, complete(0)}
            << Texts{status, u"restart"_s, status, status, start} << 4 << 0;
        QTest::newRow("pairing beside a hung follow-up, which still quits")
            << false
            << Steps{choose(kStopAndQuit), complete(0), pair, complete(1), complete(1), complete(0)}
            << Texts{u"stop"_s, status, status} << 3 << 1;
    }
    void hungStatus() {
        QFETCH(bool, paired);
        QFETCH(Steps, steps);
        QFETCH(int, shown);
        launch(paired, kFailed);
        int completions = 0;
        for (const Step& step : steps) {
            services_.report.agentMemoryKB = (completions + 1) * 1024;
            switch (step.kind) {
            case Step::completion:
                completions += services_.completeNext(step.index);
                break;
            case Step::menuItem:
                trigger(step.index);
                break;
            case Step::tick:
                fire(5000, true);
                break;
            case Step::commandsFail:
                services_.result = {{}, u"x"_s, 1};
                break;
            case Step::dismiss:
                alert_.dismiss();
                break;
            case Step::pair:
                pair();
                break;
            }
        }
        QTEST(services_.calls, "calls");
        QCOMPARE(item(5)->text(), StatusText::memoryLine(0, shown * 1024));
        QTEST(terminations_, "quits");
    }
};

QTEST_MAIN(AppDelegateTest)
#include "tst_AppDelegate.moc"
