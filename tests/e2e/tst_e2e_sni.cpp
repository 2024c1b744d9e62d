// The built controller under a real StatusNotifierItem host (Debian's SNI
// tray on a throw-away X server and a private session bus), its menu read and
// clicked over dbusmenu the way a tray host does. A small control script logs
// every run, so a test counts exactly what a click asked for.

#include "app/AppTexts.h"
#include "core/StatusText.h"

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
const QString kMenu = u"com.canonical.dbusmenu"_s;

// Answers every command with a report of what the desired file asks for, as if
// both services always obeyed; only `stop` changes it.
const QByteArray kScript = R"(#!/bin/bash
here=$(dirname "$0")
echo "$1" >>"$here/runs"
[ "$1" = stop ] && echo disabled >"$here/desired"
desired=$(cat "$here/desired" 2>/dev/null || echo enabled)
up=online
[ "$desired" = disabled ] && up=stopped
printf 'desired=%s\nbridge=%s\nagent=%s\nhub=%s\n' "$desired" $up $up $up
printf 'bridge_memory_kb=20480\nagent_memory_kb=4096\n'
)";

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

} // namespace

class TestE2eSni : public QObject {
    Q_OBJECT

    QTemporaryDir home_;
    Child x_, bus_, host_, controller_;
    QString display_, busAddress_, item_, itemPath_, menuPath_;
    std::unique_ptr<QTemporaryDir> root_;

    static QDBusConnection bus() { return QDBusConnection(u"e2e"_s); }

    // NoBlock is how a host sends what needs no answer: a menu click, and
    // `Activate` to the item for a left click on the icon.
    static QDBusMessage call(const QString& service, const QString& path, const QString& interface,
                             const QString& method, const QVariantList& arguments,
                             QDBus::CallMode mode = QDBus::Block) {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        return bus().call(message, mode, 5000);
    }

    static QVariant readProperty(const QString& service, const QString& path,
                                 const QString& interface, const QString& name) {
        const QDBusMessage reply =
            call(service, path, u"org.freedesktop.DBus.Properties"_s, u"Get"_s, {interface, name});
        return qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant();
    }

    static QVariant watcher(const QString& name) {
        return readProperty(kWatcher, u"/StatusNotifierWatcher"_s, kWatcher, name);
    }

    // A desktop session of its own: nothing of the real user's is read, and
    // single-instance sockets of different launches never meet.
    QProcessEnvironment env(const QString& home) const {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP", "SESSION_MANAGER",
                                 "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
            e.remove(QString::fromLatin1(name));
        e.insert(u"DISPLAY"_s, display_);
        e.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        e.insert(u"LANG"_s, u"C.UTF-8"_s);
        // No accessibility bus: it would outlive the session as a daemon.
        e.insert(u"NO_AT_BRIDGE"_s, u"1"_s);
        e.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, busAddress_);
        for (const char* name : {"HOME", "XDG_RUNTIME_DIR", "KORVAN_APP_SUPPORT_DIR"})
            e.insert(QString::fromLatin1(name), home);
        return e;
    }

    // The item the watcher lists for process `pid`, as a host finds it.
    bool findItem(qint64 pid) {
        for (const QString& entry : watcher(u"RegisteredStatusNotifierItems"_s).toStringList()) {
            item_ = entry.section(u'/', 0, 0);
            itemPath_ =
                entry.contains(u'/') ? entry.mid(entry.indexOf(u'/')) : u"/StatusNotifierItem"_s;
            if (bus().interface()->servicePid(item_).value() != pid)
                continue;
            const QVariant path = readProperty(item_, itemPath_, kItem, u"Menu"_s);
            menuPath_ = qvariant_cast<QDBusObjectPath>(path).path();
            return !menuPath_.isEmpty();
        }
        return false;
    }

    // The top-level rows of the exported layout, (ia{sv}av) each: their
    // properties, and their id under "id".
    QList<QVariantMap> menu() const {
        const QDBusMessage reply =
            call(item_, menuPath_, kMenu, u"GetLayout"_s, {0, -1, QStringList()});
        QList<QVariantMap> rows;
        const QDBusArgument root = qvariant_cast<QDBusArgument>(reply.arguments().value(1));
        int id = 0;
        QVariantMap properties;
        root.beginStructure();
        root >> id >> properties;
        root.beginArray();
        while (!root.atEnd()) {
            QDBusVariant child;
            root >> child;
            const QDBusArgument node = qvariant_cast<QDBusArgument>(child.variant());
            node.beginStructure();
            node >> id >> properties;
            node.endStructure();
            properties.insert(u"id"_s, id);
            rows << properties;
        }
        root.endArray();
        root.endStructure();
        return rows;
    }

    // "<state line> <start> <stop> <restart>": + for an enabled command, -
    // for a disabled one.
    QString summary() const {
        const QList<QVariantMap> rows = menu();
        QString line = rows.value(1).value(u"label"_s).toString();
        for (const QString& title :
             {AppTexts::startTitle, AppTexts::stopTitle, AppTexts::restartTitle}) {
            for (const QVariantMap& row : rows) {
                if (row.value(u"label"_s) == title)
                    line += row.value(u"enabled"_s, true).toBool() ? u" +"_s : u" -"_s;
            }
        }
        return line;
    }

    bool click(const QString& label) const {
        for (const QVariantMap& row : menu()) {
            if (row.value(u"label"_s) == label)
                return call(item_, menuPath_, kMenu, u"Event"_s,
                            {row.value(u"id"_s), u"clicked"_s, QVariant::fromValue(QDBusVariant(0)),
                             0u},
                            QDBus::NoBlock)
                           .type() != QDBusMessage::ErrorMessage;
        }
        return false;
    }

    QStringList runs() const {
        QFile log(root_->path() + u"/scripts/runs"_s);
        return log.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts)
                   : QStringList();
    }

    // A controller on a service root of its own, once its item is registered.
    bool launch(bool paired) {
        root_ = std::make_unique<QTemporaryDir>();
        const auto write = [this](const QString& name, const QByteArray& content) {
            QFile file(root_->path() + name);
            return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
        };
        const QString script = u"/scripts/korvan-service-control.sh"_s;
        if (!QDir(root_->path()).mkpath(u"scripts"_s) || !write(script, kScript) ||
            !QFile::setPermissions(root_->path() + script, QFile::ReadOwner | QFile::ExeOwner) ||
            (paired && !write(u"/.env"_s, "KORVAN_AGENT_HOST_ID=h\nKORVAN_AGENT_TOKEN=t\n")))
            return false;
        controller_ = spawn(QStringLiteral(KORVAN_E2E_CONTROLLER), {}, env(root_->path()));
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
        display_ = u':' + firstLine(*x_);
        QVERIFY2(display_.size() > 1, qPrintable(x_->errorString()));
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

    void cleanup() { end(controller_); }

    void cleanupTestCase() {
        end(host_);
        QDBusConnection::disconnectFromBus(u"e2e"_s);
        if (bus_) {
            bus_->closeWriteChannel();
            std::ignore = bus_->waitForFinished(5000);
        }
        end(x_);
    }

    void unpairedMenu() {
        QVERIFY(launch(false));
        QTRY_COMPARE_WITH_TIMEOUT(summary(), QString(StatusText::stateWaitingForPairing + u" - - -"),
                                  kDeadlineMs);
        // Before pairing there is nothing to ask the script.
        QCOMPARE(runs(), QStringList());
    }

    void linkedMenuThenStopThenQuit() {
        QVERIFY(launch(true));
        QTRY_COMPARE_WITH_TIMEOUT(summary(), QString(StatusText::stateLinked + u" - + +"),
                                  kDeadlineMs);
        QVERIFY(click(AppTexts::stopTitle));
        QTRY_COMPARE_WITH_TIMEOUT(summary(), QString(StatusText::stateStopped + u" + - +"),
                                  kDeadlineMs);
        QCOMPARE(runs().count(u"stop"_s), 1);

        QVERIFY(click(AppTexts::quitTitle));
        QVERIFY2(controller_->waitForFinished(kDeadlineMs), "the controller did not quit");
        QCOMPARE(controller_->exitStatus(), QProcess::NormalExit);
        QCOMPARE(controller_->exitCode(), 0);
        // Quitting the controller asks the script for nothing more.
        QCOMPARE(runs().count(u"stop"_s), 1);
    }
};

QTEST_GUILESS_MAIN(TestE2eSni)
#include "tst_e2e_sni.moc"
