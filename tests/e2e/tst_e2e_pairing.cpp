// Pairing as a user does it: the controller runs unpaired under an SNI tray,
// the desktop opens a korvan:// link (a second launch that hands the link
// over), the window is pre-filled, Return pairs against the demo hub, and the
// tray menu then shows the services the hub's installer set up.

#include "MenuExpectations.h"
#include "SniDesktop.h"

#include <QFile>
#include <QTest>
#include <tuple>

using namespace e2e;

namespace {

const QString kCode = QStringLiteral("DEMO-E2E-7QX4");

// The demo hub on a free loopback port, for one code.
class DemoHub {
public:
    ~DemoHub() { endChild(process_.get()); }

    bool start(QString* error) {
        const QString portFile = dir_.path() + QStringLiteral("/port");
        process_ =
            startChild(QStringLiteral("python3"),
                       {sourceDir() + QStringLiteral("/examples/demo/hub/korvan-demo-hub"),
                        QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--code"),
                        kCode, QStringLiteral("--port-file"), portFile},
                       QProcessEnvironment::systemEnvironment(), error);
        if (!process_)
            return false;
        QProcess* hub = process_.get();
        if (!QTest::qWaitFor(
                [&] { return QFile(portFile).size() > 0 || hub->state() != QProcess::Running; },
                15000) ||
            hub->state() != QProcess::Running) {
            *error = QStringLiteral("the demo hub did not start: ") +
                     QString::fromLocal8Bit(hub->readAllStandardError());
            return false;
        }
        QFile file(portFile);
        file.open(QIODevice::ReadOnly);
        port_ = file.readAll().trimmed().toUShort();
        return port_ != 0;
    }

    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(port_); }

private:
    QTemporaryDir dir_;
    std::unique_ptr<QProcess> process_;
    quint16 port_ = 0;
};

std::optional<WindowInfo> pairingWindow(qint64 pid, const QProcessEnvironment& env) {
    for (const quint32 id : windowsOfProcess(pid, env)) {
        const auto info = windowInfo(id, env);
        if (info && info->viewable && !info->overrideRedirect && info->geometry.width() > 200)
            return info;
    }
    return std::nullopt;
}

} // namespace

class TestE2ePairing : public QObject {
    Q_OBJECT

    std::unique_ptr<SniDesktop> desktop_;
    std::unique_ptr<DemoHub> hub_;

private Q_SLOTS:
    void initTestCase() {
        const QStringList missing =
            missingTools(SniDesktop::requiredTools() << QStringLiteral("python3"));
        if (!missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("missing: ") + missing.join(u' ') +
                             QStringLiteral(" (scripts/bootstrap installs them)")));
        QString error;
        desktop_ = std::make_unique<SniDesktop>();
        QVERIFY2(desktop_->start(&error), qPrintable(error));
        hub_ = std::make_unique<DemoHub>();
        QVERIFY2(hub_->start(&error), qPrintable(error));
    }

    void cleanupTestCase() {
        hub_.reset();
        desktop_.reset();
    }

    void linkHandedOverThenReturnPairs() {
        UserSession user;
        // Nothing installed yet: the hub's installer brings the control script.
        DemoRoot root(DemoRoot::Content::empty);
        const QProcessEnvironment env = root.environment(desktop_->env(user));
        Controller controller;
        QString error;
        QVERIFY2(controller.start(env, {}, &error), qPrintable(error));
        const qint64 pid = controller.pid();

        TrayBusClient& client = desktop_->client();
        std::optional<TrayItem> item;
        QVERIFY2(QTest::qWaitFor([&] { return (item = client.findItem(pid)).has_value(); }, 20000),
                 qPrintable(controller.output()));
        std::optional<WindowInfo> window;
        QVERIFY2(
            QTest::qWaitFor([&] { return (window = pairingWindow(pid, env)).has_value(); }, 10000),
            "an unpaired start shows the pairing window");
        // As drawn before the link comes: a window with its texts on it.
        QImage before;
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         before = grabScreen(env).copy(window->geometry);
                         return inkPixels(before) > 1000;
                     },
                     10000),
                 "the pairing window was never drawn");

        // The desktop opening a link starts the program again; that launch
        // hands the link to the running one and leaves. The code arrives in
        // lower case, as a user may have typed it into a page.
        const QString link =
            QStringLiteral("korvan://pair?hub=%1&code=%2")
                .arg(QString::fromLatin1(QUrl::toPercentEncoding(hub_->url())), kCode.toLower());
        Controller second;
        QVERIFY2(second.start(env, {link}, &error), qPrintable(error));
        QVERIFY2(second.waitForExit(10000), "the second launch did not hand over and leave");
        QCOMPARE(second.process()->exitCode(), 0);
        QVERIFY(controller.isRunning());

        // The running one filled its window: it looks different now.
        QImage filled;
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         const auto now = pairingWindow(pid, env);
                         if (!now)
                             return false;
                         window = now;
                         filled = grabScreen(env).copy(window->geometry);
                         return !filled.isNull() && filled != before;
                     },
                     10000),
                 "the link did not change the pairing window");
        QVERIFY(filled.save(screenshotDir() + QStringLiteral("/pairing-window.png")));
        QVERIFY(!root.isPaired());

        // Return in the window connects with what the link filled in.
        QVERIFY(
            runTool(QStringLiteral("xdotool"),
                    {QStringLiteral("windowfocus"), QStringLiteral("--sync"),
                     QString::number(window->id), QStringLiteral("key"), QStringLiteral("Return")},
                    env));
        QTRY_VERIFY_WITH_TIMEOUT(root.isPaired(), 30000);
        QVERIFY(QFile::exists(root.path() + QStringLiteral("/scripts/korvan-service-control.sh")));

        QStringList menu;
        const QStringList expected = expectedMenu(
            {QStringLiteral("状态: 已联动"), QStringLiteral("Bridge: 运行中"),
             QStringLiteral("Agent: 运行中"), QStringLiteral("云端: 已联动"), kSomeMegabytes},
            false, true, true);
        std::ignore = QTest::qWaitFor(
            [&] {
                menu = describeMenu(client.menu(*item));
                return menu == expected;
            },
            20000);
        QCOMPARE(menu, expected);
        QCOMPARE(tintName(client.iconTint(*item)), tintName(Tint::green));
        QCOMPARE(root.runningServices().size(), 2);
        // The window closes itself after a success.
        QTRY_VERIFY_WITH_TIMEOUT(!pairingWindow(pid, env).has_value(), 10000);
    }
};

QTEST_GUILESS_MAIN(TestE2ePairing)
#include "tst_e2e_pairing.moc"
