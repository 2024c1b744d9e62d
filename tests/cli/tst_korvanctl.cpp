// korvanctl as people run it: each row a bash line on a private machine; `k` runs korvanctl.
#include "BuiltProgram.h"
#include "core/PairingTexts.h"
#include "service/ServiceTexts.h"
#include "support/LoopbackHttpServer.h"

#include <QLibraryInfo>
#include <QTemporaryDir>
#include <QTranslator>
#include <cerrno>

namespace {

const QByteArray kMachine = R"(export M=$0 HUB=$1 KORVANCTL=$2; set -e; cd "$M"
mkdir -p home root/scripts bin tmp; export HOME=$M/home XDG_CONFIG_HOME=$M/home TMPDIR=$M/tmp
export KORVAN_APP_SUPPORT_DIR=$M/root LC_ALL=C.UTF-8 DBUS_SESSION_BUS_ADDRESS=unix:path=$M/none
put() { printf '#!/bin/bash\n%s\n' "$2" >$1; chmod +x $1; }
script() { put root/scripts/korvan-service-control.sh "$1"; }
report() { script "printf '%s\n' $*"; }
online() { report bridge=online agent=online hub=online bridge_memory_kb=51200 agent_memory_kb=20480; }
paired() { printf 'KORVAN_AGENT_HOST_ID=s3cr3t\nKORVAN_AGENT_TOKEN=s3cr3t\n' >root/.env; }
unset DISPLAY XDG_RUNTIME_DIR; healthy() { # desktop helpers that say yes only to the right question
  script :; paired; put bin/dbus-send '[ $6 = string:org.kde.StatusNotifierWatcher ] && echo boolean true'
  put bin/xdg-mime '[ $3 = x-scheme-handler/korvan ] && echo korvan-controller.desktop'; }
k() { LANGUAGE=de PATH=$M/bin exec "$KORVANCTL" "$@"; }
odd() { mv root r$'\xff'; export KORVAN_APP_SUPPORT_DIR=$M/r$'\xff'; } # a root not named in UTF-8
)";

// Pairs, as a real one does, only when given the loopback hub and the code wanted.
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

class KorvanctlTest : public QObject {
    Q_OBJECT
    LoopbackHttpServer hub_;
    QByteArray usage_;
    QTranslator chinese_;

    // Runs `line` on a fresh machine ("M/" in what it printed); exit -2: an installer was left.
    BuiltProgram::Result run(const QByteArray& line) {
        QTemporaryDir dir;
        const QStringList args = {u"-c"_qs, QString::fromUtf8(kMachine + line), dir.path(),
                                  hub_.baseURL(), QStringLiteral(KORVANCTL_PATH)};
        BuiltProgram::Result r = BuiltProgram{QStringLiteral("/bin/bash")}.run(args);
        for (QByteArray* text : {&r.out, &r.err})
            text->replace(QFile::encodeName(dir.path() + u'/'), "M/");
        return {QDir(dir.filePath(u"tmp"_qs)).isEmpty() ? r.exitCode : -2, r.out, r.err};
    }
    // For doctor and --help, `out` holds lines found among others; `change` spoils a healthy one.
    static void row(const char* name, const QByteArray& line, const QByteArray& out,
                    const QByteArray& err, int exitCode) {
        QTest::newRow(name) << line << out << err << exitCode;
    }
    static void check(const char* name, const QByteArray& change, const QByteArray& out, int exit) {
        row(name, "healthy; " + change + "; k doctor", out, "", exit);
    }

private Q_SLOTS:
    void initTestCase() {
        // Whatever the language asked for (German here), system messages are Qt's Chinese
        // ones; where Qt has none, the system's own stands.
        qputenv("LANGUAGE", "de");
        QVERIFY(
            chinese_.load(u"qtbase_zh_CN"_qs, QLibraryInfo::path(QLibraryInfo::TranslationsPath)));
        QCoreApplication::installTranslator(&chinese_);
        QVERIFY(hub_.listen());
        hub_.serve("/agent/install.sh", kInstaller);
        usage_ = run("k --help").out;
    }

    void korvanctl_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::addColumn<int>("exitCode");
        const QByteArray cannot = "korvanctl: cannot write to standard output: ";
        row("status", "online; paired; k status",
            "状态: 已联动\nBridge: 运行中\nAgent: 运行中\n云端: 已联动\n当前占用: 约 70 MB\n", "",
            0);
        row("status unpaired", "online; k status",
            "状态: 等待配对\nBridge: 尚未安装\nAgent: 尚未安装\n云端: 未连接\n当前占用: 0 MB\n", "",
            0);
        row("start", "script \"printf 'a\\n\\nb'; printf '\\xe9\\x94\\x99' >&2; exit 3\"; k start",
            "a\n\nb", "\xe9\x94\x99", 3);
        row("stop", "script 'echo \"$1\"'; k stop", "stop\n", "", 0);
        row("signals end jobs that ignore SIGINT too",
            "script '/bin/sleep 600 & echo $! >\"$0.bg\"; wait'; for s in INT TERM; do\n"
            "rm -f root/scripts/*.bg; k start & until [ -s root/scripts/*.bg ]; do sleep 0.01; "
            "done\n"
            "kill -$s $!; wait $! || echo $?; bg=/proc/$(cat root/scripts/*.bg)/stat\n"
            "while grep -qsv ') Z' $bg; do sleep 0.01; done; done",
            "130\n143\n", "", 0);
        row("no script", "k start", "", ServiceTexts::scriptMissing.toUtf8(), 127);
        for (const char* args : {"", " launch", " start now", " status --xml", " pair --verbose=x",
                                 " pair --code", " --help x"})
            row(args, QByteArray("script 'echo ran'; k") + args, "", "USAGE", 2);
        row("help", "k --help",
            "  pair [--hub URL] [--code CODE] [--link LINK] [--verbose]\n"
            "~/Library/Application Support/Korvan/Korvan-VPS-Hub when it is unset.",
            "", 0);
        row("version", "k --version", "korvanctl " KORVAN_VERSION "\n", "", 0);
        row("stdout full", "online; k status --json >/dev/full", "",
            cannot + qt_error_string(ENOSPC).toUtf8() + '\n', 74);
        row("stderr full", "script 'echo a; echo b >&2'; k start 2>/dev/full", "a\n", "", 74);
        row("stdout closed", "online; k status >&-", "",
            cannot + qt_error_string(EBADF).toUtf8() + '\n', 74);

        const QByteArray progress =
            (ServiceTexts::downloading + u'\n' + ServiceTexts::installing + u'\n').toUtf8();
        const QByteArray paired = (PairingTexts::success + u'\n').toUtf8();
        const QByteArray noCode = (PairingTexts::emptyCode + u'\n').toUtf8();
        row("hub trimmed",
            "export WANT=AB-CD; k pair --verbose --hub \"  $HUB/ \"$'\\n' --code ' ab-cd '",
            "installer done\n" + paired, progress, 0);
        row("link", "export WANT='LI NK'; k pair --link KORVAN://p?hub=$HUB\\&code=li%20nk", paired,
            progress, 0);
        row("options win",
            "export WANT=NEW; k pair --link 'korvan://p?hub=x&code=old' --code=new --hub $HUB",
            paired, progress, 0);
        row("root not UTF-8", "odd; export WANT=AB; k pair --hub $HUB --code ab", paired, progress,
            0);
        row("installer fails", "export WANT=FAIL; k pair --hub $HUB --code fail", "",
            progress + "installer: code rejected\n  hub said no\n", 3);
        row("no pairing", "export WANT=NOPAIR; k pair --hub $HUB --code nopair", "",
            progress + "installed, but no pairing\n", 1);
        row("unusable hub", "k pair --hub ftp://x --code c", "",
            (ServiceTexts::invalidHub + u'\n').toUtf8(), 64);
        row("empty code wins", "k pair --link korvan://p?code=x --code ''", "", noCode, 2);
        row("web link", "k pair --link https://h/?code=x", "",
            "korvanctl pair: --link takes a korvan:// link\n", 2);

        const QByteArray script = "control script: M/root/scripts/korvan-service-control.sh";
        const QByteArray pairing = "pairing file: M/root/.env";
        const QByteArray lib = "M/home/Library/Application Support/Korvan/Korvan-VPS-Hub";
        const QByteArray fix =
            " (xdg-mime default korvan-controller.desktop x-scheme-handler/korvan)";
        check("healthy", ":",
              "ok      service root: M/root (from KORVAN_APP_SUPPORT_DIR)\nok      " + script +
                  " is executable\nok      " + pairing +
                  " names KORVAN_AGENT_HOST_ID and KORVAN_AGENT_TOKEN\n"
                  "ok      tray host: a StatusNotifierWatcher is on the session bus\n"
                  "off     start at login: off (no enabled entry at M/home/autostart/korvan-contr"
                  "oller.desktop)\nok      korvan:// links: opened by korvan-controller.desktop",
              0);
        check("no script", "rm root/scripts/*", "missing " + script + " not found", 1);
        check("not executable", "chmod -x root/scripts/*",
              "fail    " + script + " is not executable", 1);
        check("script a folder", "rm root/scripts/*; mkdir $_",
              "fail    " + script + " is not a regular file", 1);
        check("not paired", "rm root/.env",
              "missing " + pairing + " not found; the machine is not paired", 1);
        check(
            "CR LF",
            "printf 'KORVAN_AGENT_HOST_ID=s3cr3t\\r\\nKORVAN_AGENT_TOKEN=s3cr3t' >root/.env",
            "missing " + pairing +
                " lacks KORVAN_AGENT_TOKEN (its lines end in CR LF; only a line feed ends a line)",
            1);
        check("root not UTF-8", "odd",
              "ok      service root: M/r\xef\xbf\xbd (from KORVAN_APP_SUPPORT_DIR)", 0);
        check("FIFO", "rm root/.env; mkfifo $_",
              "fail    " + pairing + " is a FIFO, not a regular file", 1);
        check("not UTF-8", "printf '\\377' >root/.env", "fail    " + pairing + " is not UTF-8 text",
              1);
        check("no watcher", "put bin/dbus-send 'echo boolean false'",
              "missing tray host: no StatusNotifierWatcher on the session bus; no X display", 1);
        check("bus error", "put bin/dbus-send 'echo Error >&2; exit 1'",
              "unknown tray host: dbus-send failed: Error; no X display", 1);
        check("no dbus-send", "rm bin/dbus-send",
              "unknown tray host: dbus-send not found; no X display", 1);
        check("no session bus", "unset DBUS_SESSION_BUS_ADDRESS; export XDG_RUNTIME_DIR=$M",
              "missing tray host: no session bus; no X display", 1);
        check("default root", "export KORVAN_APP_SUPPORT_DIR=$' \\t\\n'",
              "missing service root: " + lib +
                  " (the default; KORVAN_APP_SUPPORT_DIR is not set), does not exist\n"
                  "missing control script: " +
                  lib + "/scripts/korvan-service-control.sh not found",
              1);
        check("login program gone",
              "mkdir home/autostart; printf '[Desktop Entry]\\nExec=/k' "
              ">$_/korvan-controller.desktop",
              "warn    start at login: M/home/autostart/korvan-controller.desktop names a program "
              "that is gone; switch it off and on again in the menu",
              0);
        check("links elsewhere", "put bin/xdg-mime 'echo other.desktop'",
              "warn    korvan:// links: opened by other.desktop" + fix, 0);
        check("no link handler", "put bin/xdg-mime :", "missing korvan:// links: no handler" + fix,
              0);
        check("xdg-mime fails", "put bin/xdg-mime 'echo bad >&2; exit 4'",
              "unknown korvan:// links: xdg-mime failed: bad", 0);
    }
    void korvanctl() {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, out);
        const qsizetype asked = hub_.requests().size();
        const BuiltProgram::Result r = run(line);
        const bool some = line.endsWith("k doctor") || line.endsWith("k --help");
        for (const QByteArray& expected : out.replace("USAGE", usage_).split('\n'))
            QVERIFY2(some ? r.out.split('\n').contains(expected) : r.out == out, r.out.constData());
        QFETCH(QByteArray, err);
        QCOMPARE(r.err, err.replace("USAGE", usage_));
        QTEST(r.exitCode, "exitCode");
        QVERIFY(!r.out.contains("s3cr3t"));
        // The hub is asked only once a download starts.
        QCOMPARE(hub_.requests().size() > asked,
                 r.err.startsWith(ServiceTexts::downloading.toUtf8()));
    }
};

QTEST_GUILESS_MAIN(KorvanctlTest)
#include "tst_korvanctl.moc"
