// korvanctl as a user or a script runs it: the built binary, real bash
// scripts, a loopback hub, fake desktop helpers alone on PATH.
#include "pairing/PairingTexts.h"
#include "service/ServiceTexts.h"
#include "support/BuiltProgram.h"
#include "support/LoopbackHttpServer.h"

#include <QDir>
#include <QTemporaryDir>

namespace {

// A home, a service root, a temporary folder and a PATH, private to one row.
// In paths, values and expectations "M/" stands for the machine's folder.
struct Machine {
    QTemporaryDir dir;
    const QByteArray base = QFile::encodeName(dir.path()) + '/';
    BuiltProgram program{QStringLiteral(KORVANCTL_PATH)};
    Machine() {
        for (const char* folder : {"M/home", "M/root/scripts", "M/bin", "M/tmp"})
            QDir().mkpath(path(folder));
        for (const char* entry :
             {"PATH=M/bin", "HOME=M/home", "XDG_CONFIG_HOME=M/home", "TMPDIR=M/tmp",
              "KORVAN_APP_SUPPORT_DIR=M/root", "LC_ALL=C.UTF-8",
              "DBUS_SESSION_BUS_ADDRESS=unix:path=M/none", "DISPLAY", "XDG_RUNTIME_DIR"})
            env(entry);
    }
    QString path(QByteArray text) const { return QString::fromUtf8(text.replace("M/", base)); }
    void env(const QByteArray& entry) { // "NAME=value" sets, "NAME" unsets
        const qsizetype eq = entry.indexOf('=');
        const QString name = QString::fromUtf8(entry.left(eq < 0 ? entry.size() : eq));
        eq < 0 ? program.environment.remove(name)
               : program.environment.insert(name, path(entry.mid(eq + 1)));
    }
};

using Setup = std::function<void(Machine&)>;
const QByteArray kScript = "M/root/scripts/korvan-service-control.sh";
const QByteArray kPaired = "KORVAN_AGENT_HOST_ID=s3cr3t\nKORVAN_AGENT_TOKEN=s3cr3t\n";

// `kind`: 'x' an executable file, 'r' a plain one, 'd' a folder, '-' nothing.
Setup put(const QByteArray& file, const QByteArray& bytes, char kind = 'x') {
    return [=](Machine& m) {
        QFile out(m.path(file));
        out.remove();
        if (kind == 'd' || kind == '-')
            return void(kind == 'd' && QDir().mkpath(out.fileName()));
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(bytes) >= 0);
        out.setPermissions(out.permissions() | (kind == 'x' ? QFile::ExeOwner : QFile::ReadOwner));
    };
}
Setup sh(const QByteArray& body) {
    return put(kScript, "#!/bin/bash\n" + body);
}
Setup set(const QByteArray& entry) {
    return [=](Machine& m) { m.env(entry); };
}
Setup redirect(const char* out, const char* err) {
    return [=](Machine& m) {
        m.program.stdoutFile = QString::fromUtf8(out),
        m.program.stderrFile = QString::fromUtf8(err);
    };
}

// Pairs only when given the loopback hub and the code the row wants, and
// writes the pairing file the way a real installer does.
const QByteArray kInstaller = R"(#!/bin/bash
[ "$KORVAN_HUB_URL|$KORVAN_PAIR_CODE" = "$HUB|$WANT" ] || { echo "got $KORVAN_PAIR_CODE"; exit 9; }
case "$WANT" in
  FAIL) echo 'installer: code rejected'; echo '  hub said no  ' >&2; exit 3 ;;
  NOPAIR) echo 'installed, but no pairing'; exit 0 ;;
esac
printf 'KORVAN_AGENT_HOST_ID=h1\nKORVAN_AGENT_TOKEN=t1\n' > "$KORVAN_APP_SUPPORT_DIR/.env"
echo 'installer done'
)";

} // namespace

Q_DECLARE_METATYPE(QList<Setup>)

class KorvanctlTest : public QObject {
    Q_OBJECT
    LoopbackHttpServer hub_;
    QByteArray usage_;

    // In args and expectations HUB is the loopback hub and USAGE the usage
    // text. For doctor and --help, `out` holds lines to find among the rest.
    static void row(const char* name, const QList<Setup>& setup, const QByteArrayList& args,
                    const QByteArray& out, const QByteArray& err, int exitCode) {
        QTest::newRow(name) << setup << args << out << err << exitCode;
    }
    // Doctor where all is well (helpers that answer only the right question)
    // but for what `change` does.
    static void check(const char* name, const Setup& change, const QByteArray& out, int exitCode) {
        const Setup bus = put(
            "M/bin/dbus-send",
            "#!/bin/sh\n[ \"$*\" = '--session --print-reply "
            "--dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner "
            "string:org.kde.StatusNotifierWatcher' ] && echo boolean true");
        const Setup mime =
            put("M/bin/xdg-mime", "#!/bin/sh\n[ \"$*\" = 'query default "
                                  "x-scheme-handler/korvan' ] && echo korvan-controller.desktop");
        row(name, {sh({}), put("M/root/.env", kPaired, 'r'), bus, mime, change}, {"doctor"}, out,
            "", exitCode);
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(hub_.listen());
        hub_.serve("/agent/install.sh", kInstaller);
        usage_ = Machine().program.run({QStringLiteral("--help")}).out;
    }

    void korvanctl_data() {
        QTest::addColumn<QList<Setup>>("setup");
        QTest::addColumn<QByteArrayList>("args");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::addColumn<int>("exitCode");
        const Setup online = sh("echo -e 'bridge=online\\nagent=online\\nhub=online\\n"
                                "bridge_memory_kb=51200\\nagent_memory_kb=20480'");
        const Setup ran = sh("echo ran"); // shows in the output if anything runs
        const QByteArray cannot = "korvanctl: cannot write to standard output: ";
        row("status", {online}, {"status"},
            "状态: 已联动\nBridge: 运行中\nAgent: 运行中\n云端: 已联动\n当前占用: 约 70 MB\n", "",
            0);
        row("status --json",
            {sh("echo -e 'desired=disabled\\nbridge_memory_kb=9223372036854775807\\nagent_memory_kb"
                "=-9223372036854775808'"),
             put("M/root/.env", kPaired, 'r')},
            {"status", "--json"},
            "{\"agent\":\"stopped\",\"agentMemoryKB\":-9223372036854775808,\"bridge\":\"stopped\","
            "\"bridgeMemoryKB\":9223372036854775807,\"desired\":\"disabled\",\"hub\":\"offline\","
            "\"paired\":true,\"serviceRoot\":\"M/root\",\"state\":\"stopped\"}\n",
            "", 0);
        row("start", {sh("printf 'a\\n\\nb'; printf '\\xe9\\x94\\x99' >&2; exit 3")}, {"start"},
            "a\n\nb", "\xe9\x94\x99", 3);
        row("stop", {sh("echo \"$1\"")}, {"stop"}, "stop\n", "", 0);
        row("restart killed", {sh("kill -KILL $$")}, {"restart"}, "", "", 9);
        row("no script", {}, {"start"}, "", ServiceTexts::scriptMissing.toUtf8(), 127);
        for (const QByteArrayList& args : {QByteArrayList{},
                                           {"launch"},
                                           {"start", "now"},
                                           {"status", "--xml"},
                                           {"pair", "--verbose=x"},
                                           {"pair", "--code"},
                                           {"--help", "x"}})
            row(QByteArray("usage " + args.join(' ')).constData(), {ran}, args, "", "USAGE", 2);
        row("help", {ran}, {"--help"},
            "  pair [--hub URL] [--code CODE] [--link LINK] [--verbose]\n"
            "The service root is $KORVAN_APP_SUPPORT_DIR, or\n"
            "~/Library/Application Support/Korvan/Korvan-VPS-Hub when it is unset.",
            "", 0);
        row("version", {ran}, {"--version"}, "korvanctl " KORVAN_VERSION "\n", "", 0);
        row("stdout full", {online, redirect("/dev/full", "")}, {"status", "--json"}, "",
            cannot + "No space left on device\n", 74);
        row("stderr full", {sh("echo a; echo b >&2"), redirect("", "/dev/full")}, {"start"}, "a\n",
            "", 74);
        row("stdout closed", {online, redirect("-", "")}, {"status"}, "",
            cannot + "Bad file descriptor\n", 74);

        const QByteArray progress =
            (ServiceTexts::downloading + u'\n' + ServiceTexts::installing + u'\n').toUtf8();
        const QByteArray paired = (PairingTexts::success + u'\n').toUtf8();
        row("pair: hub trimmed, code upper-cased", {set("WANT=AB-CD")},
            {"pair", "--hub", "  HUB/ \n", "--code", " ab-cd "}, paired, progress, 0);
        row("pair: a link fills both", {set("WANT=LI NK")},
            {"pair", "--link", "KORVAN://p?hub=HUB&code=li%20nk"}, paired, progress, 0);
        row("pair: options win over the link", {set("WANT=NEW")},
            {"pair", "--link", "korvan://p?hub=ftp://x&code=old", "--code=new", "--hub", "HUB"},
            paired, progress, 0);
        row("pair: verbose", {set("WANT=V")}, {"pair", "--verbose", "--hub", "HUB", "--code", "v"},
            "installer done\n" + paired, progress, 0);
        row("pair: the installer's status", {set("WANT=FAIL")},
            {"pair", "--hub", "HUB", "--code", "fail"}, "",
            progress + "installer: code rejected\n  hub said no\n", 3);
        row("pair: exit 0 without pairing", {set("WANT=NOPAIR")},
            {"pair", "--hub", "HUB", "--code", "nopair"}, "",
            progress + "installed, but no pairing\n", 1);
        row("pair: unusable hub", {ran}, {"pair", "--hub", "ftp://x", "--code", "c"}, "",
            (ServiceTexts::invalidHub + u'\n').toUtf8(), 64);
        row("pair: a web link", {ran}, {"pair", "--link", "https://h/?code=x"}, "",
            "korvanctl pair: --link takes a korvan:// link\n", 2);

        const QByteArray script = "control script: " + kScript;
        const QByteArray pairing = "pairing file: M/root/.env";
        const QByteArray fix = " (xdg-mime default korvan-controller.desktop "
                               "x-scheme-handler/korvan)";
        check("doctor: healthy", set("X"),
              "ok      service root: M/root (from KORVAN_APP_SUPPORT_DIR)\nok      " + script +
                  " is executable\nok      " + pairing +
                  " names KORVAN_AGENT_HOST_ID and KORVAN_AGENT_TOKEN\n"
                  "ok      tray host: a StatusNotifierWatcher is on the session bus\n"
                  "off     start at login: off (no enabled entry at M/home/autostart/"
                  "korvan-controller.desktop)\nok      korvan:// links: opened by "
                  "korvan-controller.desktop",
              0);
        check("doctor: no script", put(kScript, {}, '-'), "missing " + script + " not found", 1);
        check("doctor: script not executable", put(kScript, {}, 'r'),
              "fail    " + script + " is not executable", 1);
        check("doctor: not paired", put("M/root/.env", {}, '-'),
              "missing " + pairing + " not found; the machine is not paired", 1);
        check("doctor: CR LF",
              put("M/root/.env", "KORVAN_AGENT_HOST_ID=x\r\nKORVAN_AGENT_TOKEN=y", 'r'),
              "missing " + pairing +
                  " lacks KORVAN_AGENT_TOKEN (its lines end in CR LF; only a "
                  "line feed ends a line)",
              1);
        check("doctor: not UTF-8", put("M/root/.env", "\xff", 'r'),
              "fail    " + pairing + " is not UTF-8 text", 1);
        check("doctor: no watcher", put("M/bin/dbus-send", "#!/bin/sh\necho boolean false"),
              "missing tray host: no StatusNotifierWatcher on the session bus; no X display", 1);
        check("doctor: bus error", put("M/bin/dbus-send", "#!/bin/sh\necho Error >&2; exit 1"),
              "unknown tray host: dbus-send failed: Error; no X display", 1);
        check("doctor: no session bus, nothing asked", set("DBUS_SESSION_BUS_ADDRESS"),
              "missing tray host: no session bus; no X display", 1);
        check(
            "doctor: default root, the script under it", set("KORVAN_APP_SUPPORT_DIR= \t\n"),
            "missing service root: M/home/Library/Application Support/Korvan/Korvan-VPS-Hub (the "
            "default; KORVAN_APP_SUPPORT_DIR is not set), does not exist\nmissing control script: "
            "M/home/Library/Application Support/Korvan/Korvan-VPS-Hub/scripts/korvan-service-con"
            "trol.sh not found",
            1);
        check("doctor: links elsewhere", put("M/bin/xdg-mime", "#!/bin/sh\necho other.desktop"),
              "warn    korvan:// links: opened by other.desktop" + fix, 0);
        check("doctor: xdg-mime fails", put("M/bin/xdg-mime", "#!/bin/sh\necho bad >&2; exit 4"),
              "unknown korvan:// links: xdg-mime failed: bad", 0);
    }
    void korvanctl() {
        QFETCH(QList<Setup>, setup);
        QFETCH(QByteArrayList, args);
        QFETCH(QByteArray, out);
        Machine m;
        m.env("HUB=" + hub_.baseURL().toUtf8());
        for (const Setup& step : setup)
            step(m);
        const auto expand = [&](QByteArray text) {
            return text.replace("USAGE", usage_)
                .replace("HUB", hub_.baseURL().toUtf8())
                .replace("M/", m.base);
        };
        QStringList arguments;
        for (const QByteArray& arg : args)
            arguments << QString::fromUtf8(expand(arg));
        const qsizetype asked = hub_.requests().size();
        const BuiltProgram::Result r = m.program.run(arguments);
        if (args.value(0) == "doctor" || args == QByteArrayList{"--help"}) {
            for (const QByteArray& line : expand(out).split('\n'))
                QVERIFY2(r.out.split('\n').contains(line), r.out.constData());
        } else {
            QCOMPARE(r.out, expand(out));
        }
        QFETCH(QByteArray, err);
        QCOMPARE(r.err, expand(err));
        QTEST(r.exitCode, "exitCode");
        QVERIFY(!r.out.contains("s3cr3t"));
        // The hub is asked only once a download starts; nothing is left behind.
        QCOMPARE(hub_.requests().size() > asked,
                 r.err.startsWith(ServiceTexts::downloading.toUtf8()));
        QCOMPARE(QDir(m.path("M/tmp")).entryList(QDir::Files), QStringList());
    }
};

QTEST_GUILESS_MAIN(KorvanctlTest)
#include "tst_korvanctl.moc"
