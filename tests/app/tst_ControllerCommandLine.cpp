// korvan-controller spawned on scratch folders with no display: what it says
// to a wrong word or a missing display, that the pair code of a link leaves
// the process list, and how a signal ends it.
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace Qt::StringLiterals;

class ControllerCommandLineTest : public QObject {
    Q_OBJECT

    QTemporaryDir scratch_; // 0700, as the hand-over channel's folder must be
    const QString path_ = QStringLiteral(KORVAN_CONTROLLER_PATH);
    QProcessEnvironment environment_ = QProcessEnvironment::systemEnvironment();
    const QString link_ = u"korvan://pair?hub=https://h.example&code=K7Q2-SECRET"_s;

private Q_SLOTS:
    void initTestCase() {
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"})
            environment_.remove(QString::fromLatin1(name));
        for (const char* name :
             {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR",
              "KORVAN_APP_SUPPORT_DIR", "DBUS_SESSION_BUS_ADDRESS"})
            environment_.insert(QString::fromLatin1(name), scratch_.path());
    }

    // QT_QPA_PLATFORM is offscreen unless -platform says otherwise.
    void endsAtOnce_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("err");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("unknown option, before any display")
            << QStringList{u"-platform"_s, u"xcb"_s, link_, u"--frobnicate"_s}
            << "korvan-controller: unknown option '--frobnicate'\n"_ba << 2;
        QTest::newRow("Qt options taken, no display")
            << QStringList{u"--style"_s, u"Fusion"_s,     u"-reverse"_s,
                           link_,        u"--platform"_s, u"xcb"_s}
            << "korvan-controller: cannot open a display (DISPLAY and WAYLAND_DISPLAY are unset or "
               "unreachable); on a machine without a desktop, use korvanctl\n"_ba
            << 1;
        QTest::newRow("version") << QStringList{u"--version"_s} << ""_ba << 0;
        QTest::newRow("version onto a full disk") << QStringList{u"--version"_s} << ""_ba << 1;
    }
    void endsAtOnce() {
        QFETCH(QStringList, arguments);
        QProcess launch;
        launch.setProcessEnvironment(environment_);
        if (QTest::currentDataTag() == "version onto a full disk"_ba)
            launch.setStandardOutputFile(u"/dev/full"_s);
        launch.start(path_, arguments);
        QVERIFY(launch.waitForFinished(30000));
        QTEST(launch.readAllStandardError(), "err");
        QTEST(launch.exitCode(), "exitCode");
    }

    void linkLeavesTheProcessList() {
        QProcess launch;
        launch.setProcessEnvironment(environment_);
        launch.start(path_, {link_});
        // What every local user reads of its arguments while it runs.
        const auto processList = [&]() -> QByteArray {
            QFile file(u"/proc/%1/cmdline"_s.arg(launch.processId()));
            const QByteArray seen = file.open(QIODevice::ReadOnly) ? file.readAll() : "";
            return !seen.startsWith(QFile::encodeName(path_)) ? "not running"
                   : seen.contains("K7Q2-SECRET")             ? "holds the code"
                                                              : "clean";
        };
        QTRY_COMPARE_WITH_TIMEOUT(processList(), "clean"_ba, 20000);
        launch.terminate();
        QVERIFY(launch.waitForFinished(20000));
    }

    void quitsOnSignal_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("Ctrl+C") << SIGINT;
        QTest::newRow("a logout") << SIGTERM;
        QTest::newRow("a closed terminal") << SIGHUP;
    }
    void quitsOnSignal() { // as its quit item does: the event loop returns
        QFETCH(int, signal);
        QProcess launch;
        launch.setProcessEnvironment(environment_);
        launch.start(path_, QStringList());
        QVERIFY(launch.waitForStarted()); // before, the mask below is the test's own
        const auto caught = [&] {         // SIGTERM's handler comes with the others
            QFile status(u"/proc/%1/status"_s.arg(launch.processId()));
            const QByteArray all = status.open(QIODevice::ReadOnly) ? status.readAll() : "";
            const QByteArray mask = all.mid(all.indexOf("SigCgt:") + 7, 17).trimmed();
            return (mask.toULongLong(nullptr, 16) >> (SIGTERM - 1) & 1) != 0;
        };
        QVERIFY(QTest::qWaitFor(caught, 20000));
        ::kill(pid_t(launch.processId()), signal);
        QVERIFY(launch.waitForFinished(20000));
        QCOMPARE(launch.exitStatus(), QProcess::NormalExit);
        QCOMPARE(launch.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(ControllerCommandLineTest)
#include "tst_ControllerCommandLine.moc"
