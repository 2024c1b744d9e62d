// The built controller under a real StatusNotifierItem host (Debian's SNI
// tray on a throw-away X server and a private session bus), left-clicked and
// ended the ways a desktop ends it while a pairing attempt runs.

#include "core/PairingTexts.h"
#include "support/LoopbackHttpServer.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtDBus>

#include <csignal>
#include <sys/prctl.h>
#include <tuple>

using namespace Qt::StringLiterals;

namespace {

constexpr int kDeadlineMs = 20000;
const QString kWatcher = u"org.kde.StatusNotifierWatcher"_s;
const QString kItem = u"org.kde.StatusNotifierItem"_s;

using Child = std::unique_ptr<QProcess>;

Child spawn(const QString& program, const QStringList& arguments, const QProcessEnvironment& env) {
    auto child = std::make_unique<QProcess>();
    child->setProcessEnvironment(env);
    // A crashed test leaves no X server, bus or controller behind.
    child->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    child->start(program, arguments);
    return child;
}

// TERM and a grace period; the QProcess destructor kills what is left.
void end(Child& child) {
    if (child) {
        child->terminate();
        std::ignore = child->waitForFinished(5000);
    }
    child.reset();
}

QString firstLine(QProcess& child) {
    std::ignore = QTest::qWaitFor(
        [&] { return child.canReadLine() || child.state() == QProcess::NotRunning; }, kDeadlineMs);
    return QString::fromUtf8(child.readLine().trimmed());
}

// What an X tool prints; the test's own environment names the display.
QString output(const QString& program, const QStringList& arguments) {
    QProcess tool;
    tool.start(program, arguments);
    std::ignore = tool.waitForFinished(kDeadlineMs);
    return QString::fromUtf8(tool.readAllStandardOutput());
}

} // namespace

class TestE2eSni : public QObject {
    Q_OBJECT

    QTemporaryDir home_;
    Child x_, bus_, host_, controller_;
    QString busAddress_, item_, itemPath_;
    std::unique_ptr<QTemporaryDir> root_;
    pid_t installer_ = 0; // its process group is ended after each test

    static QDBusConnection bus() { return QDBusConnection(u"e2e"_s); }

    // NoBlock is how a host sends `Activate` for a left click on the icon.
    static QDBusMessage call(const QString& service, const QString& path, const QString& interface,
                             const QString& method, const QVariantList& arguments,
                             QDBus::CallMode mode = QDBus::Block) {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        return bus().call(message, mode, 5000);
    }

    static QVariant watcher(const QString& name) {
        const QDBusMessage reply =
            call(kWatcher, u"/StatusNotifierWatcher"_s, u"org.freedesktop.DBus.Properties"_s,
                 u"Get"_s, {kWatcher, name});
        return qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant();
    }

    // A desktop session of its own: nothing of the real user's is read, and
    // single-instance sockets of different launches never meet.
    QProcessEnvironment env(const QString& home) const {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP", "SESSION_MANAGER",
                                 "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
            e.remove(QString::fromLatin1(name));
        e.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        e.insert(u"LANG"_s, u"C.UTF-8"_s);
        // No accessibility bus: it would outlive the session as a daemon.
        e.insert(u"NO_AT_BRIDGE"_s, u"1"_s);
        e.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, busAddress_);
        for (const char* name : {"HOME", "XDG_RUNTIME_DIR", "KORVAN_APP_SUPPORT_DIR", "TMPDIR"})
            e.insert(QString::fromLatin1(name), home);
        return e;
    }

    // The item the watcher lists for process `pid`, as a host finds it.
    bool findItem(qint64 pid) {
        for (const QString& entry : watcher(u"RegisteredStatusNotifierItems"_s).toStringList()) {
            item_ = entry.section(u'/', 0, 0);
            itemPath_ =
                entry.contains(u'/') ? entry.mid(entry.indexOf(u'/')) : u"/StatusNotifierItem"_s;
            if (bus().interface()->servicePid(item_).value() == pid)
                return true;
        }
        return false;
    }

    // A visible override-redirect window of the controller taller than 200 px:
    // its menu, popped up.
    bool menuShown() const {
        const QString pid = QString::number(controller_->processId());
        for (const QString& id :
             output(u"xdotool"_s, {u"search"_s, u"--onlyvisible"_s, u"--pid"_s, pid})
                 .split(u'\n', Qt::SkipEmptyParts)) {
            const QString info = output(u"xwininfo"_s, {u"-id"_s, id});
            if (info.contains(u"Override Redirect State: yes"_s) &&
                info.section(u"Height:"_s, 1).section(u'\n', 0, 0).trimmed().toInt() > 200)
                return true;
        }
        return false;
    }

    // A controller on a home of its own, once its item is registered.
    bool launch(const QStringList& arguments) {
        root_ = std::make_unique<QTemporaryDir>();
        controller_ = spawn(QStringLiteral(KORVAN_E2E_CONTROLLER), arguments, env(root_->path()));
        const qint64 pid = controller_->processId();
        if (QTest::qWaitFor([&] { return findItem(pid); }, kDeadlineMs))
            return true;
        qWarning() << "no tray item;" << controller_->readAllStandardError();
        return false;
    }

private Q_SLOTS:
    void initTestCase() {
        const QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
        // -displayfd: the server takes a free display and names it, so
        // parallel runs never collide.
        x_ = spawn(u"Xvfb"_s, {u"-displayfd"_s, u"1"_s, u"-nolisten"_s, u"tcp"_s}, system);
        const QByteArray display = ':' + firstLine(*x_).toLatin1();
        QVERIFY2(display.size() > 1, qPrintable(x_->errorString()));
        qputenv("DISPLAY", display);
        // The session lasts while `cat` reads our end of the pipe; closing it
        // takes the daemon down too, which a signal would not.
        bus_ = spawn(u"dbus-run-session"_s,
                     {u"--"_s, u"sh"_s, u"-c"_s,
                      u"echo \"$DBUS_SESSION_BUS_ADDRESS\"; exec cat >/dev/null"_s},
                     system);
        busAddress_ = firstLine(*bus_);
        QVERIFY2(QDBusConnection::connectToBus(busAddress_, u"e2e"_s).isConnected(),
                 qPrintable(bus_->errorString()));
        // The standalone tray races its own watcher at start-up and now and
        // then quits; a session manager would start it again, and so do we.
        const auto registered = [] {
            return watcher(u"IsStatusNotifierHostRegistered"_s).toBool();
        };
        for (int attempt = 0; attempt < 3 && !registered(); ++attempt) {
            end(host_);
            host_ = spawn(u"gtk-sni-tray-standalone"_s, {u"--watcher"_s}, env(home_.path()));
            std::ignore = QTest::qWaitFor(
                [&] { return host_->state() == QProcess::NotRunning || registered(); },
                kDeadlineMs);
        }
        QVERIFY2(registered(), host_->readAllStandardError().constData());
    }

    void cleanup() {
        end(controller_);
        if (installer_ > 0)
            ::kill(-std::exchange(installer_, 0), SIGKILL);
    }

    void cleanupTestCase() {
        end(host_);
        QDBusConnection::disconnectFromBus(u"e2e"_s);
        if (bus_) {
            bus_->closeWriteChannel();
            std::ignore = bus_->waitForFinished(5000);
        }
        end(x_);
    }

    // However it is asked to, the controller ends at once and in order while
    // an installer runs: its file goes, the installer is left running.
    void quitWhileInstalling_data() {
        QTest::addColumn<int>("signal"); // 0: Ctrl+Q in the menu a left click opened
        QTest::newRow("quit item") << 0;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void quitWhileInstalling() {
        QFETCH(int, signal);
        LoopbackHttpServer hub;
        hub.serve("/agent/install.sh", "echo $$ >\"$HOME/installer\"; sleep 300\n");
        QVERIFY(hub.listen());
        QVERIFY(launch({u"korvan://p?code=ab&hub="_s + hub.baseURL()}));
        // Return in the pairing window presses its connect button.
        output(u"xdotool"_s,
               {u"search"_s, u"--sync"_s, u"--onlyvisible"_s, u"--pid"_s,
                QString::number(controller_->processId()), u"--name"_s, PairingTexts::windowTitle,
                u"windowfocus"_s, u"--sync"_s, u"key"_s, u"Return"_s});
        QFile pidFile(root_->path() + u"/installer"_s);
        QVERIFY(QTest::qWaitFor([&] { return pidFile.size() > 0; }, kDeadlineMs));
        QVERIFY(pidFile.open(QIODevice::ReadOnly));
        installer_ = pid_t(pidFile.readAll().trimmed().toInt());
        const QStringList enroll{u"korvan-enroll-*"_s};
        QCOMPARE(QDir(root_->path()).entryList(enroll).size(), 1);
        if (signal) {
            QCOMPARE(::kill(pid_t(controller_->processId()), signal), 0);
        } else {
            QVERIFY(!menuShown());
            call(item_, itemPath_, kItem, u"Activate"_s, {0, 0}, QDBus::NoBlock);
            QVERIFY(QTest::qWaitFor([&] { return menuShown(); }, kDeadlineMs));
            output(u"xdotool"_s, {u"key"_s, u"ctrl+q"_s});
        }
        QVERIFY2(controller_->waitForFinished(kDeadlineMs), "the controller did not quit");
        QCOMPARE(controller_->exitStatus(), QProcess::NormalExit);
        QCOMPARE(controller_->exitCode(), 0);
        QCOMPARE(QDir(root_->path()).entryList(enroll), QStringList());
        QCOMPARE(::kill(installer_, 0), 0);
    }
};

QTEST_GUILESS_MAIN(TestE2eSni)
#include "tst_e2e_sni.moc"
