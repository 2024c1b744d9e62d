// korvanctl doctor, run as the built binary against temporary roots and XDG
// folders, with PATH holding only fake desktop helpers that the test writes.
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

namespace {

const QByteArray kSecret = "s3cr3t-value-never-shown";

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
    QMap<QString, QString> verdicts; // check name -> verdict word
    QMap<QString, QString> lines;    // check name -> the rest of its line
    QStringList order;               // check names as printed
};

class Machine {
public:
    Machine() {
        for (const char* dir : {"home", "root/scripts", "bin", "config"})
            QDir(dir_.path()).mkpath(QString::fromLatin1(dir));
        env_.insert(QStringLiteral("PATH"), path(QStringLiteral("bin")));
        env_.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
        env_.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        env_.insert(QStringLiteral("KORVAN_APP_SUPPORT_DIR"), path(QStringLiteral("root")));
        env_.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                    QStringLiteral("unix:path=") + path(QStringLiteral("no-bus")));
    }

    QString path(const QString& relative) const { return dir_.filePath(relative); }
    QProcessEnvironment& env() { return env_; }

    void write(const QString& relative, const QByteArray& bytes, bool executable = false) const {
        QFile file(path(relative));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(relative));
        file.write(bytes);
        file.close();
        if (executable)
            file.setPermissions(file.permissions() | QFile::ExeOwner);
    }

    // A helper on PATH that records its arguments, one a line, and then runs
    // `body` (POSIX sh builtins only: PATH holds nothing else).
    void fakeTool(const QString& name, const QByteArray& body) const {
        write(QStringLiteral("bin/") + name,
              "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >\"$0.args\"\n" + body +
                  '\n',
              true);
    }

    QByteArray read(const QString& relative) const {
        QFile file(path(relative));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    Run doctor() const {
        QProcess process;
        process.setProcessEnvironment(env_);
        process.start(QStringLiteral(KORVANCTL_PATH), {QStringLiteral("doctor")});
        if (!process.waitForFinished(60000))
            qFatal("korvanctl doctor did not finish");
        Run run;
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        for (const QString& line : run.out.split(u'\n', Qt::SkipEmptyParts)) {
            const QString verdict = line.section(u' ', 0, 0);
            const QString rest = line.mid(verdict.size()).trimmed();
            const QString name = rest.left(rest.indexOf(QStringLiteral(": ")));
            run.verdicts.insert(name, verdict);
            run.lines.insert(name, rest);
            run.order << name;
        }
        return run;
    }

private:
    QTemporaryDir dir_;
    QProcessEnvironment env_;
};

const QByteArray kPaired =
    "KORVAN_AGENT_HOST_ID=" + kSecret + "\nKORVAN_AGENT_TOKEN=" + kSecret + "\n";
const QByteArray kWatcher = "printf 'method return time=1 sender=x\\n   boolean true\\n'";
const QByteArray kNoWatcher = "printf 'method return time=1 sender=x\\n   boolean false\\n'";
const QByteArray kRoutedHere = "printf 'korvan-controller.desktop\\n'";

// Everything in place; each row of the tests below changes one thing.
void setUpHealthy(Machine& m) {
    m.write(QStringLiteral("root/scripts/korvan-service-control.sh"), "#!/bin/bash\n", true);
    m.write(QStringLiteral("root/.env"), kPaired);
    m.fakeTool(QStringLiteral("dbus-send"), kWatcher);
    m.fakeTool(QStringLiteral("xdg-mime"), kRoutedHere);
}

} // namespace

class DoctorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void healthyMachine();
    void requirements_data();
    void requirements();
    void serviceRoot_data();
    void serviceRoot();
    void conveniences_data();
    void conveniences();
    void noSessionBus();
    void xembedTray();
    void extraArgumentIsUsage();
};

void DoctorTest::healthyMachine() {
    Machine m;
    setUpHealthy(m);
    const Run r = m.doctor();
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.err, QString());
    const QStringList names = {QStringLiteral("service root"),   QStringLiteral("control script"),
                               QStringLiteral("pairing file"),   QStringLiteral("tray host"),
                               QStringLiteral("start at login"), QStringLiteral("korvan:// links")};
    QCOMPARE(r.order, names);
    QCOMPARE(r.out.count(u'\n'), names.size());
    for (const QString& name : names)
        QCOMPARE(r.verdicts.value(name),
                 name == u"start at login" ? QStringLiteral("off") : QStringLiteral("ok"));
    QCOMPARE(r.lines.value(QStringLiteral("tray host")),
             QStringLiteral("tray host: a StatusNotifierWatcher is on the session bus"));
    QVERIFY2(!r.out.contains(QString::fromLatin1(kSecret)), qPrintable(r.out));
    // The helpers were asked exactly the questions the desktop answers.
    QCOMPARE(m.read(QStringLiteral("bin/dbus-send.args")),
             QByteArray("--session\n--print-reply\n--dest=org.freedesktop.DBus\n"
                        "/org/freedesktop/DBus\norg.freedesktop.DBus.NameHasOwner\n"
                        "string:org.kde.StatusNotifierWatcher\n"));
    QCOMPARE(m.read(QStringLiteral("bin/xdg-mime.args")),
             QByteArray("query\ndefault\nx-scheme-handler/korvan\n"));
}

void DoctorTest::requirements_data() {
    QTest::addColumn<QString>("file"); // written relative to the machine, or removed
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("executable");
    QTest::addColumn<QString>("check");
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<QString>("says");

    const QString script = QStringLiteral("root/scripts/korvan-service-control.sh");
    const QString env = QStringLiteral("root/.env");
    const QString dbus = QStringLiteral("bin/dbus-send");
    QTest::newRow("no control script") << script << QByteArray() << false << "control script"
                                       << "missing"
                                       << "not found";
    QTest::newRow("script not executable")
        << script << QByteArray("#!/bin/bash\n") << false << "control script"
        << "fail"
        << "not executable";
    QTest::newRow("not paired") << env << QByteArray() << false << "pairing file"
                                << "missing"
                                << "not found";
    QTest::newRow("token missing")
        << env << QByteArray("KORVAN_AGENT_HOST_ID=" + kSecret + "\nKORVAN_AGENT_TOKEN=  \n")
        << false << "pairing file"
        << "missing"
        << "lacks KORVAN_AGENT_TOKEN";
    QTest::newRow("both keys missing")
        << env
        << QByteArray("export KORVAN_AGENT_HOST_ID=" + kSecret + "\n# KORVAN_AGENT_TOKEN=x\n")
        << false << "pairing file"
        << "missing"
        << "lacks KORVAN_AGENT_HOST_ID and KORVAN_AGENT_TOKEN";
    QTest::newRow("CR LF line ends") << env
                                     << QByteArray("KORVAN_AGENT_HOST_ID=" + kSecret +
                                                   "\r\nKORVAN_AGENT_TOKEN=" + kSecret + "\r\n")
                                     << false << "pairing file"
                                     << "missing"
                                     << "lacks KORVAN_AGENT_TOKEN (its lines end in CR LF";
    QTest::newRow("not UTF-8") << env << QByteArray(kPaired + "\xff\n") << false << "pairing file"
                               << "fail"
                               << "is not UTF-8 text";
    QTest::newRow("FIFO") << env << QByteArray("<fifo>") << false << "pairing file"
                          << "fail"
                          << "is a FIFO, not a regular file";
    QTest::newRow("no watcher, no display")
        << dbus << kNoWatcher << true << "tray host"
        << "missing"
        << "no StatusNotifierWatcher on the session bus; no X display";
    QTest::newRow("bus error") << dbus
                               << QByteArray("echo 'Error org.freedesktop.DBus.Error.NoServer' >&2"
                                             "; exit 1")
                               << true << "tray host"
                               << "unknown"
                               << "dbus-send failed: Error org.freedesktop.DBus.Error.NoServer";
    QTest::newRow("dbus-send killed") << dbus << QByteArray("kill -TERM $$") << true << "tray host"
                                      << "unknown"
                                      << "dbus-send was killed by signal 15";
    QTest::newRow("no dbus-send") << dbus << QByteArray() << false << "tray host"
                                  << "unknown"
                                  << "dbus-send not found; no X display";
}

void DoctorTest::requirements() {
    QFETCH(QString, file);
    QFETCH(QByteArray, contents);
    QFETCH(bool, executable);
    QFETCH(QString, check);
    Machine m;
    setUpHealthy(m);
    QFile::remove(m.path(file));
    if (contents == "<fifo>")
        QCOMPARE(::mkfifo(QFile::encodeName(m.path(file)).constData(), 0600), 0);
    else if (file == u"bin/dbus-send" && !contents.isEmpty())
        m.fakeTool(QStringLiteral("dbus-send"), contents);
    else if (!contents.isEmpty())
        m.write(file, contents, executable);
    const Run r = m.doctor();
    QTEST(r.verdicts.value(check), "verdict");
    QFETCH(QString, says);
    QVERIFY2(r.lines.value(check).contains(says), qPrintable(r.out));
    QVERIFY2(!r.out.contains(QString::fromLatin1(kSecret)), qPrintable(r.out));
    QCOMPARE(r.exitCode, 1);
}

void DoctorTest::serviceRoot_data() {
    QTest::addColumn<QByteArray>("override"); // "-" leaves the variable unset
    QTest::addColumn<QString>("root");        // relative to the machine
    QTest::addColumn<QString>("says");
    QTest::addColumn<QString>("verdict");
    const QString defaultRoot =
        QStringLiteral("home/Library/Application Support/Korvan/Korvan-VPS-Hub");
    QTest::newRow("override") << QByteArray("root") << "root"
                              << "(from KORVAN_APP_SUPPORT_DIR)"
                              << "ok";
    QTest::newRow("unset") << QByteArray("-") << defaultRoot
                           << "(the default; KORVAN_APP_SUPPORT_DIR is not set), does not exist"
                           << "missing";
    QTest::newRow("blank") << QByteArray(" \n\t") << defaultRoot
                           << "(the default; KORVAN_APP_SUPPORT_DIR is not set), does not exist"
                           << "missing";
    QTest::newRow("missing folder") << QByteArray("gone/") << "gone"
                                    << "(from KORVAN_APP_SUPPORT_DIR), does not exist"
                                    << "missing";
}

void DoctorTest::serviceRoot() {
    QFETCH(QByteArray, override);
    QFETCH(QString, root);
    QFETCH(QString, says);
    Machine m;
    setUpHealthy(m);
    if (override == "-")
        m.env().remove(QStringLiteral("KORVAN_APP_SUPPORT_DIR"));
    else if (override.trimmed().isEmpty())
        m.env().insert(QStringLiteral("KORVAN_APP_SUPPORT_DIR"), QString::fromLatin1(override));
    else
        m.env().insert(QStringLiteral("KORVAN_APP_SUPPORT_DIR"),
                       m.path(QString::fromLatin1(override)));
    const Run r = m.doctor();
    QTEST(r.verdicts.value(QStringLiteral("service root")), "verdict");
    QCOMPARE(r.lines.value(QStringLiteral("service root")),
             QStringLiteral("service root: ") + m.path(root) + u' ' + says);
    // The script is looked for where the root is, not where it used to be.
    QCOMPARE(r.lines.value(QStringLiteral("control script")).contains(m.path(root) + u'/'), true);
}

void DoctorTest::conveniences_data() {
    QTest::addColumn<QByteArray>("autostart"); // the entry's text; empty: no entry
    QTest::addColumn<QByteArray>("mime");      // the fake xdg-mime's body; empty: none on PATH
    QTest::addColumn<QString>("loginVerdict");
    QTest::addColumn<QString>("linkVerdict");
    QTest::addColumn<QString>("linkSays");
    const QByteArray entry = "[Desktop Entry]\nType=Application\nName=K\nExec=\"/bin/sh\"\n";
    QTest::newRow("entry on, links here") << entry << kRoutedHere << "ok"
                                          << "ok"
                                          << "opened by korvan-controller.desktop";
    QTest::newRow("entry hidden, links elsewhere")
        << QByteArray(entry + "Hidden=true\n") << QByteArray("printf 'other-app.desktop\\n'")
        << "off"
        << "warn"
        << "opened by other-app.desktop (xdg-mime default";
    QTest::newRow("program gone, no handler")
        << QByteArray("[Desktop Entry]\nType=Application\nName=K\nExec=/nonexistent/korvan\n")
        << QByteArray("exit 0") << "warn"
        << "missing"
        << "no handler (xdg-mime default";
    QTest::newRow("no entry, no xdg-mime") << QByteArray() << QByteArray() << "off"
                                           << "unknown"
                                           << "xdg-mime not found";
    QTest::newRow("xdg-mime fails")
        << QByteArray() << QByteArray("echo 'bad desktop' >&2; exit 4") << "off"
        << "unknown"
        << "xdg-mime failed: bad desktop";
}

void DoctorTest::conveniences() {
    QFETCH(QByteArray, autostart);
    QFETCH(QByteArray, mime);
    Machine m;
    setUpHealthy(m);
    if (!autostart.isEmpty()) {
        QDir().mkpath(m.path(QStringLiteral("config/autostart")));
        m.write(QStringLiteral("config/autostart/korvan-controller.desktop"), autostart);
    }
    QFile::remove(m.path(QStringLiteral("bin/xdg-mime")));
    if (!mime.isEmpty())
        m.fakeTool(QStringLiteral("xdg-mime"), mime);
    const Run r = m.doctor();
    QTEST(r.verdicts.value(QStringLiteral("start at login")), "loginVerdict");
    QVERIFY(r.lines.value(QStringLiteral("start at login"))
                .contains(m.path(QStringLiteral("config/autostart/korvan-controller.desktop"))));
    QTEST(r.verdicts.value(QStringLiteral("korvan:// links")), "linkVerdict");
    QFETCH(QString, linkSays);
    QVERIFY2(r.lines.value(QStringLiteral("korvan:// links")).contains(linkSays),
             qPrintable(r.out));
    // Neither is needed for the controller to run.
    QCOMPARE(r.exitCode, 0);
}

void DoctorTest::noSessionBus() {
    Machine m;
    setUpHealthy(m);
    m.env().remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    m.env().insert(QStringLiteral("XDG_RUNTIME_DIR"), m.path(QStringLiteral("home")));
    const Run r = m.doctor();
    QCOMPARE(r.verdicts.value(QStringLiteral("tray host")), QStringLiteral("missing"));
    QCOMPARE(r.lines.value(QStringLiteral("tray host")),
             QStringLiteral("tray host: no session bus; no X display"));
    QCOMPARE(r.exitCode, 1);
    // Asking anyway would have dbus-send start a bus of its own.
    QVERIFY(!QFile::exists(m.path(QStringLiteral("bin/dbus-send.args"))));
}

// A real X server and a real XEmbed tray, where the machine has them.
void DoctorTest::xembedTray() {
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    const QString trayer = QStandardPaths::findExecutable(QStringLiteral("trayer"));
    if (xvfb.isEmpty() || trayer.isEmpty())
        QSKIP("needs Xvfb and trayer");
    QProcess server;
    server.start(xvfb,
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                  QStringLiteral("0"), QStringLiteral("640x480x24")});
    QVERIFY(QTest::qWaitFor([&] { return server.canReadLine(); }, 30000));
    const QString display = u':' + QString::fromLatin1(server.readLine().trimmed());

    Machine m;
    setUpHealthy(m);
    m.fakeTool(QStringLiteral("dbus-send"), kNoWatcher);
    m.env().insert(QStringLiteral("DISPLAY"), display);
    const QString none = QStringLiteral("tray host: no StatusNotifierWatcher on the session bus; "
                                        "no XEmbed tray owns _NET_SYSTEM_TRAY_S0 on ") +
                         display;
    Run r = m.doctor();
    QCOMPARE(r.lines.value(QStringLiteral("tray host")), none);
    QCOMPARE(r.exitCode, 1);

    QProcess tray;
    QProcessEnvironment trayEnv = QProcessEnvironment::systemEnvironment();
    trayEnv.insert(QStringLiteral("DISPLAY"), display);
    tray.setProcessEnvironment(trayEnv);
    tray.start(trayer, QStringList{});
    QVERIFY(QTest::qWaitFor(
        [&] {
            r = m.doctor();
            return r.exitCode == 0;
        },
        30000));
    QCOMPARE(r.lines.value(QStringLiteral("tray host")),
             QStringLiteral("tray host: an XEmbed tray owns _NET_SYSTEM_TRAY_S0 on ") + display);
    tray.kill();
    tray.waitForFinished();
    server.kill();
    server.waitForFinished();
}

void DoctorTest::extraArgumentIsUsage() {
    Machine m;
    setUpHealthy(m);
    QProcess process;
    process.setProcessEnvironment(m.env());
    process.start(QStringLiteral(KORVANCTL_PATH), {QStringLiteral("doctor"), QStringLiteral("-v")});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(process.readAllStandardError().startsWith("usage: korvanctl"));
    QVERIFY(!QFile::exists(m.path(QStringLiteral("bin/dbus-send.args"))));
}

QTEST_GUILESS_MAIN(DoctorTest)
#include "tst_doctor.moc"
