// The controller under a real StatusNotifierItem host, driven the way the
// host drives it: the menu is read and clicked over D-Bus, the demo control
// script does the real work.

#include "MenuExpectations.h"
#include "SniDesktop.h"

#include <QTest>
#include <tuple>

using namespace e2e;

namespace {

const QString kLinked = QStringLiteral("状态: 已联动");
const QString kStopped = QStringLiteral("状态: 已停止");
const QString kFailed = QStringLiteral("状态: 启动失败");
const QString kSwitching = QStringLiteral("状态: 正在切换...");

const ServiceLines kUnpairedLines{QStringLiteral("状态: 等待配对"),
                                  QStringLiteral("Bridge: 尚未安装"),
                                  QStringLiteral("Agent: 尚未安装"), QStringLiteral("云端: 未连接"),
                                  QStringLiteral("当前占用: 0 MB")};
const ServiceLines kLinkedLines{kLinked, QStringLiteral("Bridge: 运行中"),
                                QStringLiteral("Agent: 运行中"), QStringLiteral("云端: 已联动"),
                                kSomeMegabytes};
const ServiceLines kStoppedLines{kStopped, QStringLiteral("Bridge: 已停止"),
                                 QStringLiteral("Agent: 已停止"), QStringLiteral("云端: 未连接"),
                                 QStringLiteral("当前占用: 0 MB")};
const ServiceLines kFailedLines{kFailed, QStringLiteral("Bridge: 已停止"),
                                QStringLiteral("Agent: 已停止"), QStringLiteral("云端: 未连接"),
                                QStringLiteral("当前占用: 0 MB")};

enum class Setup { unpaired, linked, stopped, crashed };

} // namespace

Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(e2e::Tint)

class TestE2eSni : public QObject {
    Q_OBJECT

    std::unique_ptr<SniDesktop> desktop_;

    // One controller on its own home and demo root.
    struct Run {
        UserSession user;
        DemoRoot root;
        Controller controller;
        TrayItem item;
    };

    void launch(Run& run) {
        QString error;
        QVERIFY2(run.controller.start(run.root.environment(desktop_->env(run.user)), {}, &error),
                 qPrintable(error));
        TrayBusClient& client = desktop_->client();
        std::optional<TrayItem> item;
        const qint64 pid = run.controller.pid();
        QVERIFY2(QTest::qWaitFor([&] { return (item = client.findItem(pid)).has_value(); }, 20000),
                 qPrintable(QStringLiteral("no tray item registered; controller said: ") +
                            run.controller.output()));
        run.item = *item;
    }

    // Waits until the menu reads `expected`, then compares, so a mismatch
    // shows both menus.
    void waitForMenu(Run& run, const QStringList& expected) {
        TrayBusClient& client = desktop_->client();
        QStringList actual;
        std::ignore = QTest::qWaitFor(
            [&] {
                actual = describeMenu(client.menu(run.item));
                return actual == expected;
            },
            20000);
        QCOMPARE(actual, expected);
    }

    void waitForStateLine(Run& run, const QString& line) {
        TrayBusClient& client = desktop_->client();
        QString state;
        std::ignore = QTest::qWaitFor(
            [&] {
                const auto rows = client.menu(run.item);
                state = rows.size() > 1 ? rows.at(1).label : QString();
                return state == line;
            },
            20000);
        QCOMPARE(state, line);
    }

    void waitForTint(Run& run, Tint expected) {
        TrayBusClient& client = desktop_->client();
        Tint tint = Tint::none;
        std::ignore =
            QTest::qWaitFor([&] { return (tint = client.iconTint(run.item)) == expected; }, 10000);
        QCOMPARE(tintName(tint), tintName(expected));
    }

private Q_SLOTS:
    void initTestCase() {
        const QStringList missing = missingTools(SniDesktop::requiredTools());
        if (!missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("missing: ") + missing.join(u' ') +
                             QStringLiteral(" (scripts/bootstrap installs them)")));
        desktop_ = std::make_unique<SniDesktop>();
        QString error;
        QVERIFY2(desktop_->start(&error), qPrintable(error));
    }

    void cleanupTestCase() { desktop_.reset(); }

    void menuInEachState_data() {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<Tint>("tint");
        // Start, stop and restart stay off until there is something to run.
        QTest::newRow("unpaired") << Setup::unpaired
                                  << expectedMenu(kUnpairedLines, false, false, false)
                                  << Tint::grey;
        // The first report of a paired machine starts the services.
        QTest::newRow("linked") << Setup::linked << expectedMenu(kLinkedLines, false, true, true)
                                << Tint::green;
        // Switched off by the user: nothing starts by itself, nothing to stop.
        QTest::newRow("stopped") << Setup::stopped << expectedMenu(kStoppedLines, true, false, true)
                                 << Tint::grey;
        // Both services died behind the script's back while they should run.
        QTest::newRow("failed") << Setup::crashed << expectedMenu(kFailedLines, true, true, true)
                                << Tint::red;
    }

    void menuInEachState() {
        QFETCH(Setup, setup);
        QFETCH(QStringList, expected);
        QFETCH(Tint, tint);

        Run run;
        if (setup != Setup::unpaired)
            run.root.writePairing();
        if (setup == Setup::stopped)
            run.root.setDesired("disabled");
        launch(run);
        if (QTest::currentTestFailed())
            return;

        if (setup == Setup::crashed) {
            waitForStateLine(run, kLinked);
            QCOMPARE(run.root.runningServices().size(), 2);
            run.root.killServices();
            QTRY_VERIFY_WITH_TIMEOUT(run.root.runningServices().isEmpty(), 5000);
            // What a host sends as it opens the menu; the controller asks the
            // script again.
            QVERIFY(desktop_->client().aboutToShow(run.item));
        }
        waitForMenu(run, expected);
        waitForTint(run, tint);

        switch (setup) {
        case Setup::unpaired: {
            // The pairing window is up, and no script has run: the demo
            // script makes its run/ folder on every call.
            const QProcessEnvironment env = desktop_->env(run.user);
            bool windowShown = false;
            std::ignore = QTest::qWaitFor(
                [&] {
                    for (const quint32 id : windowsOfProcess(run.controller.pid(), env)) {
                        const auto info = windowInfo(id, env);
                        if (info && info->viewable && !info->overrideRedirect &&
                            info->geometry.width() > 200)
                            windowShown = true;
                    }
                    return windowShown;
                },
                10000);
            QVERIFY2(windowShown, "the pairing window did not open");
            QVERIFY(!QFile::exists(run.root.path() + QStringLiteral("/run")));
            break;
        }
        case Setup::linked:
            QCOMPARE(run.root.runningServices().size(), 2);
            QTRY_VERIFY_WITH_TIMEOUT(run.root.bridgeAnswers(), 10000);
            break;
        case Setup::stopped:
        case Setup::crashed:
            QVERIFY(run.root.runningServices().isEmpty());
            break;
        }
    }

    void startAndStopFromTheMenu() {
        Run run;
        run.root.writePairing();
        run.root.setDesired("disabled");
        launch(run);
        if (QTest::currentTestFailed())
            return;
        waitForStateLine(run, kStopped);
        waitForTint(run, Tint::grey);

        TrayBusClient& client = desktop_->client();
        MenuRecorder recorder(client.bus(), run.item);
        const int stateId = client.menu(run.item).at(1).id;

        QVERIFY(
            client.click(run.item, client.rowId(run.item, QStringLiteral("启动 Korvan Remote"))));
        waitForMenu(run, expectedMenu(kLinkedLines, false, true, true));
        waitForTint(run, Tint::green);
        QCOMPARE(run.root.runningServices().size(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(run.root.bridgeAnswers(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.labelsOf(stateId), (QStringList{kSwitching, kLinked}),
                                  5000);
        // The switching icon, then the linked one.
        QTRY_VERIFY_WITH_TIMEOUT(recorder.newIconCount() >= 2, 5000);
        const int iconsAfterStart = recorder.newIconCount();

        QVERIFY(client.click(run.item, client.rowId(run.item, QStringLiteral("停止并释放内存"))));
        waitForMenu(run, expectedMenu(kStoppedLines, true, false, true));
        waitForTint(run, Tint::grey);
        QVERIFY(run.root.runningServices().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(recorder.labelsOf(stateId),
                                  (QStringList{kSwitching, kLinked, kSwitching, kStopped}), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.newIconCount() >= iconsAfterStart + 2, 5000);
    }

    void quitItems_data() {
        QTest::addColumn<QString>("item");
        QTest::addColumn<bool>("servicesKeepRunning");
        QTest::newRow("quit controller") << QStringLiteral("退出控制器") << true;
        QTest::newRow("stop services and quit") << QStringLiteral("停止服务并退出") << false;
    }

    void quitItems() {
        QFETCH(QString, item);
        QFETCH(bool, servicesKeepRunning);

        Run run;
        run.root.writePairing();
        launch(run);
        if (QTest::currentTestFailed())
            return;
        waitForStateLine(run, kLinked);

        TrayBusClient& client = desktop_->client();
        QVERIFY(client.click(run.item, client.rowId(run.item, item)));
        QVERIFY2(run.controller.waitForExit(15000), "the controller did not quit");
        QCOMPARE(run.controller.process()->exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.controller.process()->exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!client.findItem(run.controller.pid()).has_value(), 5000);

        if (servicesKeepRunning) {
            QCOMPARE(run.root.runningServices().size(), 2);
            QTRY_VERIFY_WITH_TIMEOUT(run.root.bridgeAnswers(), 10000);
            QCOMPARE(run.root.control(QStringLiteral("stop")), 0);
        }
        QVERIFY(run.root.runningServices().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestE2eSni)
#include "tst_e2e_sni.moc"
