// The built controller under a real StatusNotifierItem host on a throw-away
// X server and session bus: a left click opens its menu, and quitting while an
// installer runs ends it in order.

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
    child->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    child->start(program, arguments);
    return child;
}

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
    pid_t installer_ = 0;

    static QDBusConnection bus() { return QDBusConnection(u"e2e"_s); }

    static QVariant watcher(const char* name) {
        return QDBusInterface(kWatcher, u"/StatusNotifierWatcher"_s, kWatcher, bus())
            .property(name);
    }

    QProcessEnvironment env(const QString& home) const {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP", "SESSION_MANAGER",
                                 "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
            e.remove(QString::fromLatin1(name));
        e.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        e.insert(u"NO_AT_BRIDGE"_s, u"1"_s);
        e.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, busAddress_);
        for (const char* name : {"HOME", "XDG_RUNTIME_DIR", "KORVAN_APP_SUPPORT_DIR", "TMPDIR"})
            e.insert(QString::fromLatin1(name), home);
        return e;
    }

    bool findItem(qint64 pid) {
        for (const QString& entry : watcher("RegisteredStatusNotifierItems").toStringList()) {
            item_ = entry.section(u'/', 0, 0);
            itemPath_ =
                entry.contains(u'/') ? entry.mid(entry.indexOf(u'/')) : u"/StatusNotifierItem"_s;
            if (bus().interface()->servicePid(item_).value() == pid)
                return true;
        }
        return false;
    }

    bool menuShown() const { // a visible override-redirect window taller than 200 px
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

    // On an unpaired service root of its own, which no control script needs.
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
        // -displayfd: a free display, so parallel runs never collide.
        x_ = spawn(u"Xvfb"_s, {u"-displayfd"_s, u"1"_s, u"-nolisten"_s, u"tcp"_s}, system);
        const QByteArray display = ':' + firstLine(*x_).toLatin1();
        QVERIFY2(display.size() > 1, qPrintable(x_->errorString()));
        qputenv("DISPLAY", display);
        // Closing `cat`'s pipe takes the daemon down; a signal would not.
        bus_ = spawn(u"dbus-run-session"_s,
                     {u"--"_s, u"sh"_s, u"-c"_s,
                      u"echo \"$DBUS_SESSION_BUS_ADDRESS\"; exec cat >/dev/null"_s},
                     system);
        busAddress_ = firstLine(*bus_);
        QVERIFY2(QDBusConnection::connectToBus(busAddress_, u"e2e"_s).isConnected(),
                 qPrintable(bus_->errorString()));
        // The host races its own watcher and now and then quits: restart it.
        const auto registered = [] { return watcher("IsStatusNotifierHostRegistered").toBool(); };
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

    // Ctrl+Q in the menu a left click opened ends it in order: the installer
    // file goes, the installer runs on. A quit signal takes the same path.
    void quitWhileInstalling() {
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
        QDBusInterface(item_, itemPath_, kItem, bus()).call(QDBus::NoBlock, u"Activate"_s, 0, 0);
        QVERIFY(QTest::qWaitFor([&] { return menuShown(); }, kDeadlineMs));
        output(u"xdotool"_s, {u"key"_s, u"ctrl+q"_s});
        QVERIFY2(controller_->waitForFinished(kDeadlineMs), "the controller did not quit");
        QCOMPARE(controller_->exitStatus(), QProcess::NormalExit);
        QCOMPARE(controller_->exitCode(), 0);
        QCOMPARE(QDir(root_->path()).entryList(enroll), QStringList());
        QCOMPARE(::kill(installer_, 0), 0);
    }
};

QTEST_GUILESS_MAIN(TestE2eSni)
#include "tst_e2e_sni.moc"
