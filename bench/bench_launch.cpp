// Launch to first report: how long korvan-controller takes from exec to a
// tray menu whose state line reads linked, under a real StatusNotifierItem
// host (Debian's SNI tray on a throw-away X server and a private session bus,
// as the end-to-end tests run it). The menu is read the way a host reads it:
// com.canonical.dbusmenu GetLayout on the item the watcher lists, asked again
// whenever the menu announces a change.
//
// Baseline, in the same run and interleaved round by round so drifting load
// hits both alike: bench_minimal_tray's exec to its item registered with the
// watcher, plus one bare "status" run of the same control script: a tray
// program that does nothing but show its item and ask once for a report.
// For information, both programs' exec to item registered, and the CPU time
// their threads had used by then.
//
// Everything runs in a scratch folder (home, XDG folders, runtime folder and a
// paired service root whose script always reports linked), so nothing of the
// user's is read or written. One unmeasured launch of each warms the caches.
//
//   bench_launch            rounds from $BENCH_LAUNCH_ROUNDS (default 11)
//
// Prints rows for bench/run: name, median, baseline, unit, goal; the two
// parts of the baseline go to stderr.
#include "core/StatusText.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtDBus>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <sys/prctl.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int kDeadlineMs = 20000;
const QString kWatcher = u"org.kde.StatusNotifierWatcher"_s;
const QString kWatcherPath = u"/StatusNotifierWatcher"_s;
const QString kItem = u"org.kde.StatusNotifierItem"_s;
const QString kMenu = u"com.canonical.dbusmenu"_s;
const QString kConnection = u"bench"_s;

// Always linked, whatever it is asked: the first refresh then needs no start.
const QByteArray kScript = R"(#!/bin/bash
printf 'desired=enabled\nbridge=online\nagent=online\nhub=online\n'
printf 'bridge_memory_kb=20480\nagent_memory_kb=4096\n'
)";

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double ms(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e6;
}

// CPU time of a running process's threads so far, from the scheduler's
// nanosecond counters: on a loaded machine it tells the work a launch did
// from the time it spent waiting for a core.
double cpuMs(qint64 pid) {
    const QString tasks = u"/proc/"_s + QString::number(pid) + u"/task"_s;
    double total = 0;
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks + u'/' + task + u"/schedstat"_s);
        if (stat.open(QIODevice::ReadOnly))
            total += stat.readLine(64).split(' ').value(0).toDouble() / 1e6;
    }
    return total;
}

// Thrown to main, so that the X server, the bus and the host are ended on
// the way out.
struct Failure {
    QString what;
};

[[noreturn]] void fail(const QString& what) {
    throw Failure{what};
}

using Child = std::unique_ptr<QProcess>;

Child makeChild(const QProcessEnvironment& env) {
    auto child = std::make_unique<QProcess>();
    child->setProcessEnvironment(env);
    // A crashed benchmark leaves no X server, bus or tray program behind.
    child->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    return child;
}

void end(Child& child) {
    if (child) {
        child->terminate();
        if (!child->waitForFinished(5000))
            child->kill();
        child->waitForFinished(5000);
    }
    child.reset();
}

QString firstLine(QProcess& child) {
    const QDeadlineTimer deadline(kDeadlineMs);
    while (!child.canReadLine() && child.state() != QProcess::NotRunning && !deadline.hasExpired())
        child.waitForReadyRead(int(deadline.remainingTime()));
    return QString::fromUtf8(child.readLine().trimmed());
}

} // namespace

class LaunchBench : public QObject {
    Q_OBJECT

public:
    // What one launch showed, in ms from just before exec; negative when it
    // never happened.
    struct Launch {
        double registered = -1;
        double linked = -1;
        double registeredCpu = -1;
    };

    LaunchBench() {
        if (!scratch_.isValid())
            fail(u"no scratch folder"_s);
        const QString base = scratch_.path();
        for (const char* sub : {"home", "config", "data", "cache", "runtime", "root/scripts"}) {
            if (!QDir(base).mkpath(QString::fromLatin1(sub)))
                fail(u"cannot make "_s + base + u'/' + QString::fromLatin1(sub));
        }
        QFile::setPermissions(base + u"/runtime"_s,
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        script_ = base + u"/root/scripts/korvan-service-control.sh"_s;
        write(script_, kScript);
        QFile::setPermissions(script_, QFile::ReadOwner | QFile::ExeOwner);
        write(base + u"/root/.env"_s,
              "KORVAN_AGENT_HOST_ID=bench-host\nKORVAN_AGENT_TOKEN=bench\n");
    }

    ~LaunchBench() override {
        end(child_);
        end(host_);
        QDBusConnection::disconnectFromBus(kConnection);
        if (bus_) {
            // Closing the pipe `cat` reads ends the session and its daemon.
            bus_->closeWriteChannel();
            bus_->waitForFinished(5000);
        }
        end(x_);
    }

    void startDesktop() {
        x_ = makeChild(QProcessEnvironment::systemEnvironment());
        // -displayfd: the server takes a free display and names it.
        x_->start(u"Xvfb"_s, {u"-displayfd"_s, u"1"_s, u"-nolisten"_s, u"tcp"_s});
        display_ = u':' + firstLine(*x_);
        if (display_.size() < 2)
            fail(u"Xvfb did not start: "_s + x_->errorString());

        bus_ = makeChild(QProcessEnvironment::systemEnvironment());
        bus_->start(u"dbus-run-session"_s,
                    {u"--"_s, u"sh"_s, u"-c"_s,
                     u"echo \"$DBUS_SESSION_BUS_ADDRESS\"; exec cat >/dev/null"_s});
        busAddress_ = firstLine(*bus_);
        if (!QDBusConnection::connectToBus(busAddress_, kConnection).isConnected())
            fail(u"no private session bus: "_s + bus_->errorString());

        // The standalone tray races its own watcher at start-up and now and
        // then quits; a session manager would start it again, and so do we.
        const auto registered = [this] {
            return watcher(u"IsStatusNotifierHostRegistered"_s).toBool();
        };
        for (int attempt = 0; attempt < 3 && !registered(); ++attempt) {
            end(host_);
            host_ = makeChild(env());
            host_->start(u"gtk-sni-tray-standalone"_s, {u"--watcher"_s});
            const QDeadlineTimer deadline(kDeadlineMs);
            while (host_->state() != QProcess::NotRunning && !registered() &&
                   !deadline.hasExpired())
                host_->waitForFinished(50);
        }
        if (!registered())
            fail(u"the SNI host did not register: "_s +
                 QString::fromUtf8(host_->readAllStandardError()));

        QDBusConnection bus = this->bus();
        const bool hooked =
            bus.connect(kWatcher, kWatcherPath, kWatcher, u"StatusNotifierItemRegistered"_s, this,
                        SLOT(itemRegistered(QString))) &&
            bus.connect(kWatcher, kWatcherPath, kWatcher, u"StatusNotifierItemUnregistered"_s, this,
                        SLOT(wake())) &&
            // Any sender: the item's menu is not known before it registers.
            bus.connect({}, {}, kMenu, u"LayoutUpdated"_s, this, SLOT(menuChanged())) &&
            bus.connect({}, {}, kMenu, u"ItemsPropertiesUpdated"_s, this, SLOT(menuChanged()));
        if (!hooked)
            fail(u"cannot watch the tray signals: "_s + bus.lastError().message());
    }

    // Exec to registered (and, when asked, to a linked menu), then the
    // program ended and its item gone from the watcher.
    Launch launch(const QString& program, bool untilLinked) {
        state_ = {};
        item_.clear();
        menuPath_.clear();
        untilLinked_ = untilLinked;
        child_ = makeChild(env());
        QObject::connect(child_.get(), &QProcess::finished, this, &LaunchBench::wake);
        clock_.start();
        child_->start(program, {});
        pid_ = child_->waitForStarted(kDeadlineMs) ? child_->processId() : 0;
        const bool done = waitUntil([this] {
            return child_->state() == QProcess::NotRunning || state_.linked >= 0 ||
                   (!untilLinked_ && state_.registered >= 0);
        });
        const Launch seen = state_;
        if (!done || seen.registered < 0 || (untilLinked && seen.linked < 0)) {
            const bool ended = child_->state() == QProcess::NotRunning;
            fail(program + u" showed no "_s +
                 (seen.registered < 0 ? u"tray item"_s : u"linked menu"_s) +
                 (ended ? u" before it ended"_s : u" within the deadline"_s) +
                 u"; its output:\n"_s + QString::fromUtf8(child_->readAllStandardError()));
        }
        end(child_);
        if (!waitUntil([this] {
                return watcher(u"RegisteredStatusNotifierItems"_s).toStringList().isEmpty();
            }))
            fail(u"the watcher still lists an item of an ended program"_s);
        return seen;
    }

    // One bare "status" run of the script, as the controller runs it.
    double statusRun() {
        Child run = makeChild(env());
        QElapsedTimer clock;
        clock.start();
        run->start(u"/bin/bash"_s, {script_, u"status"_s});
        const bool finished = run->waitForFinished(kDeadlineMs);
        const double elapsed = ms(clock);
        if (!finished || !run->readAllStandardOutput().contains("hub=online"))
            fail(u"the control script gave no linked report"_s);
        return elapsed;
    }

private Q_SLOTS:
    void itemRegistered(const QString& entry) {
        const double at = ms(clock_);
        const QString service = entry.section(u'/', 0, 0);
        const QString path =
            entry.contains(u'/') ? entry.mid(entry.indexOf(u'/')) : u"/StatusNotifierItem"_s;
        if (pid_ == 0 || bus().interface()->servicePid(service).value() != uint(pid_))
            return;
        state_.registered = at;
        state_.registeredCpu = cpuMs(pid_);
        item_ = service;
        const QDBusMessage reply =
            call(item_, path, u"org.freedesktop.DBus.Properties"_s, u"Get"_s, {kItem, u"Menu"_s});
        menuPath_ = qvariant_cast<QDBusObjectPath>(
                        qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant())
                        .path();
        menuChanged();
    }

    void menuChanged() {
        if (untilLinked_ && state_.linked < 0 && !menuPath_.isEmpty() && menuShowsLinked())
            state_.linked = ms(clock_);
        wake();
    }

    void wake() {
        if (wake_)
            wake_();
    }

private:
    QTemporaryDir scratch_;
    QString script_, display_, busAddress_;
    Child x_, bus_, host_, child_;
    qint64 pid_ = 0;
    QElapsedTimer clock_;
    Launch state_;
    bool untilLinked_ = false;
    QString item_, menuPath_;
    std::function<void()> wake_;

    static QDBusConnection bus() { return QDBusConnection(kConnection); }

    static void write(const QString& name, const QByteArray& content) {
        QFile file(name);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            fail(u"cannot write "_s + name);
    }

    static QDBusMessage call(const QString& service, const QString& path, const QString& interface,
                             const QString& method, const QVariantList& arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        return bus().call(message, QDBus::Block, 5000);
    }

    static QVariant watcher(const QString& name) {
        const QDBusMessage reply =
            call(kWatcher, kWatcherPath, u"org.freedesktop.DBus.Properties"_s, u"Get"_s,
                 {kWatcher, name});
        return qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant();
    }

    // The tray host's and the programs' desktop: only scratch folders.
    QProcessEnvironment env() const {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP", "SESSION_MANAGER"})
            e.remove(QString::fromLatin1(name));
        const QString base = scratch_.path();
        e.insert(u"HOME"_s, base + u"/home"_s);
        e.insert(u"XDG_CONFIG_HOME"_s, base + u"/config"_s);
        e.insert(u"XDG_DATA_HOME"_s, base + u"/data"_s);
        e.insert(u"XDG_CACHE_HOME"_s, base + u"/cache"_s);
        e.insert(u"XDG_RUNTIME_DIR"_s, base + u"/runtime"_s);
        e.insert(u"KORVAN_APP_SUPPORT_DIR"_s, base + u"/root"_s);
        e.insert(u"DISPLAY"_s, display_);
        e.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        e.insert(u"LANG"_s, u"C.UTF-8"_s);
        // No accessibility bus: it would outlive the session as a daemon.
        e.insert(u"NO_AT_BRIDGE"_s, u"1"_s);
        e.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, busAddress_);
        return e;
    }

    // Event-driven: the slots wake the loop, so a timestamp is never held
    // back by a poll interval.
    bool waitUntil(const std::function<bool()>& done) {
        if (done())
            return true;
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        wake_ = [&] {
            if (done())
                loop.quit();
        };
        deadline.start(kDeadlineMs);
        loop.exec();
        wake_ = nullptr;
        return done();
    }

    // Whether a top-level row of the item's layout, (ia{sv}av) each, carries
    // the linked state line.
    bool menuShowsLinked() const {
        const QDBusMessage reply =
            call(item_, menuPath_, kMenu, u"GetLayout"_s, {0, 1, QStringList{u"label"_s}});
        if (reply.type() != QDBusMessage::ReplyMessage)
            return false;
        const QDBusArgument root = qvariant_cast<QDBusArgument>(reply.arguments().value(1));
        int id = 0;
        QVariantMap properties;
        bool linked = false;
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
            linked = linked || properties.value(u"label"_s).toString() == StatusText::stateLinked;
        }
        root.endArray();
        root.endStructure();
        return linked;
    }
};

int run() {
    bool ok = false;
    const int rounds = qEnvironmentVariableIntValue("BENCH_LAUNCH_ROUNDS", &ok);
    const int n = ok ? rounds : 11;
    if (n < 1 || n > 100)
        fail(u"BENCH_LAUNCH_ROUNDS must be 1 to 100"_s);

    const QString controller = QStringLiteral(KORVAN_BENCH_CONTROLLER);
    const QString minimal = QStringLiteral(KORVAN_BENCH_MINIMAL_TRAY);
    LaunchBench bench;
    bench.startDesktop();
    bench.launch(minimal, false);
    bench.launch(controller, true);
    bench.statusRun();

    std::vector<double> linked, registered, minimalRegistered, status, cpu, minimalCpu;
    for (int i = 0; i < n; ++i) {
        const LaunchBench::Launch m = bench.launch(minimal, false);
        minimalRegistered.push_back(m.registered);
        minimalCpu.push_back(m.registeredCpu);
        const LaunchBench::Launch c = bench.launch(controller, true);
        linked.push_back(c.linked);
        registered.push_back(c.registered);
        cpu.push_back(c.registeredCpu);
        status.push_back(bench.statusRun());
    }
    const double m = median(minimalRegistered), s = median(status);
    std::fprintf(stderr,
                 "bench_launch: medians of %d: minimal tray registered %.3f ms, bare status %.3f "
                 "ms\n",
                 n, m, s);
    std::printf("launch to linked menu vs tray + status\t%.3f\t%.3f\tms\t1.20\n", median(linked),
                m + s);
    std::printf("launch to tray item vs minimal tray\t%.3f\t%.3f\tms\t-\n", median(registered), m);
    std::printf("launch CPU to tray item vs minimal\t%.3f\t%.3f\tms\t-\n", median(cpu),
                median(minimalCpu));
    return 0;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    try {
        return run();
    } catch (const Failure& failure) {
        std::fprintf(stderr, "bench_launch: %s\n", qPrintable(failure.what));
        return 1;
    }
}

#include "bench_launch.moc"
