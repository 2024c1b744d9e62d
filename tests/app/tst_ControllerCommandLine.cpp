// korvan-controller started as the desktop and a shell start it, on scratch
// folders: what it says to a wrong word or a missing display, and that the
// pair code of a link leaves the process list.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace Qt::StringLiterals;

namespace {

const QString kProgram = QStringLiteral(KORVAN_CONTROLLER_PATH);
const QByteArray kCode = "K7Q2-SECRET";
const QString kLink = u"korvan://pair?hub=https://hub.example&code="_s + QString::fromLatin1(kCode);
const QByteArray kNoDisplay =
    "korvan-controller: cannot open a display (DISPLAY and WAYLAND_DISPLAY are unset or "
    "unreachable); on a machine without a desktop, use korvanctl\n";

} // namespace

class ControllerCommandLineTest : public QObject {
    Q_OBJECT

    QTemporaryDir scratch_;

    void start(QProcess& process, const QStringList& arguments, const QString& platform) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        if (!platform.isEmpty())
            env.insert(u"QT_QPA_PLATFORM"_s, platform);
        for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
            env.insert(QString::fromLatin1(name), scratch_.path());
        env.insert(u"XDG_RUNTIME_DIR"_s, runtimeDir());
        env.insert(u"KORVAN_APP_SUPPORT_DIR"_s, scratch_.filePath(u"root"_s));
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path="_s + scratch_.filePath(u"none"_s));
        process.setProcessEnvironment(env);
        process.start(kProgram, arguments);
        QVERIFY(process.waitForStarted());
    }
    QString runtimeDir() const { return scratch_.filePath(u"run"_s); }

    // What another local user reads of the process's arguments.
    static QString processList(const QProcess& process) {
        QFile file(u"/proc/%1/cmdline"_s.arg(process.processId()));
        if (process.state() != QProcess::Running || !file.open(QIODevice::ReadOnly))
            return u"exited"_s;
        const QByteArray seen = file.readAll();
        if (seen.contains(kCode))
            return u"holds the code"_s;
        return seen.startsWith(QFile::encodeName(kProgram)) ? u"clean"_s : u"not started"_s;
    }

    static void stop(QProcess& process) {
        ::kill(pid_t(process.processId()), SIGCONT);
        process.terminate();
        QVERIFY(process.waitForFinished(20000));
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(scratch_.isValid());
        QVERIFY(QDir().mkdir(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    // Each row ends on its own, with no display: a word is refused before Qt
    // looks for one.
    void endsAtOnce_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("platform"); // QT_QPA_PLATFORM; empty: Qt's default
        QTest::addColumn<QByteArray>("err");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("unknown option")
            << QStringList{kLink, u"--frobnicate"_s} << u"xcb"_s
            << "korvan-controller: unknown option '--frobnicate'\n"_ba << 2;
        QTest::newRow("Qt option without its value")
            << QStringList{u"-display"_s} << u"offscreen"_s
            << "korvan-controller: -display needs a value\n"_ba << 2;
        QTest::newRow("no display") << QStringList{kLink} << QString() << kNoDisplay << 1;
        QTest::newRow("Qt options taken, still no display")
            << QStringList{u"--style"_s, u"Fusion"_s, u"-reverse"_s, u"-platform"_s, u"xcb"_s}
            << u"offscreen"_s << kNoDisplay << 1;
    }
    void endsAtOnce() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, platform);
        QProcess process;
        start(process, arguments, platform);
        QVERIFY(process.waitForFinished(20000));
        QTEST(process.readAllStandardError(), "err");
        QTEST(process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, "exitCode");
    }

    // The second launch finds the first one stopped, so it stays to be seen
    // while it waits to hand the link over.
    void linkLeavesTheProcessList_data() {
        QTest::addColumn<bool>("secondLaunch");
        QTest::newRow("first launch") << false;
        QTest::newRow("second launch") << true;
    }
    void linkLeavesTheProcessList() {
        QFETCH(bool, secondLaunch);
        QProcess first;
        if (secondLaunch) {
            start(first, {u"-platform"_s, u"minimal"_s}, {});
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(runtimeDir() + u"/korvan-controller.sock"_s),
                                     20000);
            QCOMPARE(::kill(pid_t(first.processId()), SIGSTOP), 0);
        }
        QProcess launch;
        start(launch, {kLink}, u"offscreen"_s);
        QTRY_COMPARE_WITH_TIMEOUT(processList(launch), u"clean"_s, 20000);
        stop(launch);
        if (secondLaunch)
            stop(first);
    }
};

QTEST_GUILESS_MAIN(ControllerCommandLineTest)
#include "tst_ControllerCommandLine.moc"
