// korvanctl's commands in-process, against the recording service fake and a
// scratch root; doctor's helpers are scripts on a private PATH.
#include "CommandTable.h"
#include "SignalGuard.h"
#include "core/PairingTexts.h"
#include "fakes/FakeServices.h"
#include "service/ProcessRunner.h"
#include "service/ServiceTexts.h"
#include "support/TestServiceRoot.h"

#include <QProcess>
#include <QTcpServer>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

using namespace std::chrono_literals;
using Chunks = QList<std::pair<int, QByteArray>>;
Q_DECLARE_METATYPE(CommandResult)

namespace {

QByteArray readBack(int fd) {
    QByteArray bytes(int(::lseek(fd, 0, SEEK_END)), '\0');
    if (::pread(fd, bytes.data(), size_t(bytes.size()), 0) != bytes.size())
        qFatal("cannot read back");
    ::close(fd);
    return bytes;
}

const QByteArray kTry = "\nTry 'korvanctl --help'.\n";

} // namespace

class KorvanctlTest : public QObject {
    Q_OBJECT
    TestServiceRoot root_;
    const QByteArray scratch_ = root_.path().chopped(5); // holds root, home and bin
    ProcessRunner runner_;

    struct Ran {
        int status;
        QByteArray out, err;
    };
    // One korvanctl run; "M/" in what it printed stands for the scratch folder.
    Ran korvanctl(const QStringList& args, FakeServices& services, const QByteArray& input = {}) {
        const int out = ::memfd_create("out", MFD_CLOEXEC),
                  err = ::memfd_create("err", MFD_CLOEXEC);
        int in[2];
        if (out < 0 || err < 0 || ::pipe2(in, O_CLOEXEC) != 0 ||
            ::write(in[1], input.constData(), size_t(input.size())) != input.size())
            qFatal("cannot make the streams");
        ::close(in[1]);
        cli::StandardStreams streams(out, err);
        cli::Invocation call{
            args,  streams, services, runner_, scratch_ + "/home", QStringLiteral(KORVANCTL_PATH),
            in[0], 500ms};
        const int status = cli::runCommandLine(call);
        ::close(in[0]);
        Ran ran{status, readBack(out), readBack(err)};
        for (QByteArray* text : {&ran.out, &ran.err})
            text->replace(scratch_, "M");
        return ran;
    }
    void sh(const QByteArray& line) {
        QProcess p;
        p.setWorkingDirectory(QFile::decodeName(scratch_));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"PATH"_qs, u"/usr/bin:/bin"_qs);
        p.setProcessEnvironment(env);
        p.start(u"/bin/bash"_qs, {u"-ec"_qs, QString::fromUtf8(line)});
        QVERIFY(p.waitForFinished());
        QCOMPARE(p.exitCode(), 0);
    }

private Q_SLOTS:
    void initTestCase() {
        qputenv("XDG_CONFIG_HOME", scratch_ + "/home");
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
        qputenv("PATH", scratch_ + "/bin");
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR"})
            qunsetenv(name);
    }

    void commands_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<CommandResult>("result");
        QTest::addColumn<Chunks>("chunks");
        QTest::addColumn<bool>("paired");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("enrollments"); // hub, then code, of each
        const auto row = [](const char* name, QStringList args, CommandResult result, Chunks chunks,
                            QStringList calls, QByteArray out, QByteArray err, int status,
                            QByteArray input = {}, bool paired = true, QStringList enrolled = {}) {
            QTest::newRow(name) << args << input << result << chunks << paired << calls << out
                                << err << status << enrolled;
        };
        const auto usage = [&](const char* name, QStringList args, const QByteArray& line) {
            row(name, args, {}, {}, {}, "", line + kTry, 2);
        };
        usage("no command", {}, "korvanctl: no command given");
        usage("unknown command", {u"statsu"_qs}, "korvanctl: unknown command 'statsu'");
        usage("unknown option", {u"status"_qs, u"--jsn"_qs},
              "korvanctl status: unknown option '--jsn'");
        usage("another command's option", {u"status"_qs, u"--hub"_qs, u"x"_qs},
              "korvanctl status: unknown option '--hub' (an option of pair)");
        usage("missing value", {u"pair"_qs, u"--hub"_qs}, "korvanctl pair: --hub needs a value");
        usage("two output modes", {u"status"_qs, u"--json"_qs, u"--openmetrics"_qs},
              "korvanctl status: --json and --openmetrics cannot be used together");
        usage("stray argument", {u"start"_qs, u"now"_qs},
              "korvanctl start: unexpected argument 'now'");
        usage("probe is not for people", {u"help"_qs, u"--probe-xembed-tray"_qs},
              "korvanctl: unknown command '--probe-xembed-tray'");
        usage("stdin twice", {u"pair"_qs, u"--code"_qs, u"-"_qs, u"--link"_qs, u"-"_qs},
              "korvanctl pair: only one of --code and --link can read standard input");
        usage("not a pairing link", {u"pair"_qs, u"--link"_qs, u"korvan://p?x=1"_qs},
              "korvanctl pair: not a pairing link (it names neither hub nor code): "
              "korvan://p?x=1");
        usage("web link", {u"pair"_qs, u"--link"_qs, u"https://h/?code=x"_qs},
              "korvanctl pair: --link takes a korvan:// link");

        const QStringList start{u"start"_qs};
        row("live output, each stream to its own, once", start, {u"a\n"_qs, u"e"_qs, 3},
            {{1, "a\n"}, {2, "\xff"}}, start, "a\n", "\xff", 3);
        row("a status past 255", start, {{}, {}, 256}, {}, start, "", "", 255);
        row("no script", start, {{}, ServiceTexts::scriptMissing, 127}, {}, start, "",
            "找不到 Korvan 服务控制脚本，请先更新 Korvan。\n", 127);
        const QStringList status{u"status"_qs};
        const QByteArray stopped = "状态: 启动失败\nBridge: 已停止\nAgent: 已停止\n云端: 未连接\n"
                                   "当前占用: 0 MB\n";
        row("status run failed", status, {{}, {}, 3}, {}, status, stopped,
            "korvanctl status: the status run ended with status 3 (its exit code, or the signal "
            "that ended it)\n",
            1);
        row("status unpaired runs nothing", status, {}, {}, {},
            "状态: 等待配对\nBridge: 尚未安装\nAgent: 尚未安装\n云端: 未连接\n当前占用: 0 MB\n", "",
            0, {}, false);
        row("status json", {u"status"_qs, u"--json"_qs},
            {u"bridge=online\nagent_memory_kb=-9223372036854775808\n"_qs, {}, 0}, {}, status,
            "{\"agent\":\"stopped\",\"agentMemoryKB\":-9223372036854775808,\"bridge\":\"online\","
            "\"bridgeMemoryKB\":0,\"desired\":\"enabled\",\"hub\":\"offline\",\"paired\":true,"
            "\"serviceRoot\":\"M/root\",\"state\":\"connecting\"}\n",
            "", 0);
        row("script missing names the path", status, {{}, ServiceTexts::scriptMissing, 127}, {},
            status, stopped,
            "korvanctl status: the control script "
            "M/root/scripts/korvan-service-control.sh is missing or not executable\n",
            1);

        const QByteArray paired = (PairingTexts::success + u'\n').toUtf8();
        const QString hub = u"https://hub.korvan.example"_qs;
        const QStringList c{hub, u"C"_qs};
        row("code from standard input", {u"pair"_qs, u"--code"_qs, u"-"_qs}, {}, {}, {}, paired, "",
            0, " ab-cd \nmore\n", false, {hub, u"AB-CD"_qs});
        row("link from standard input, an option wins",
            {u"pair"_qs, u"--link"_qs, u"-"_qs, u"--code=new"_qs}, {}, {}, {}, paired, "", 0,
            "korvan://p?hub=http://h&code=old\n", false, {u"http://h"_qs, u"NEW"_qs});
        row("verbose forwards the installer", {u"pair"_qs, u"--verbose"_qs, u"--code=c"_qs},
            {u"done\n"_qs, {}, 0}, {{1, "done\n"}}, {}, "done\n" + paired, "", 0, {}, false, c);
        row("detail before the last line", {u"pair"_qs, u"--code=c"_qs},
            {{}, ServiceTexts::downloadFailed, 1, u"http://h/agent/install.sh: HTTP 404"_qs}, {},
            {}, "",
            "korvanctl pair: http://h/agent/install.sh: HTTP 404\n无法从 Korvan 下载安装程序。\n",
            1, {}, false, c);
        row("installer left no pairing", {u"pair"_qs, u"--code=c"_qs},
            {u"1\n2\n3\n4\n5\n6\n"_qs, {}, 0}, {}, {}, "",
            "korvanctl pair: the installer exited 0 but left no pairing file; its last lines:\n"
            "2\n3\n4\n5\n6\n1\n2\n3\n4\n5\n6\n",
            1, {}, false, c);
        row("empty code", {u"pair"_qs, u"--code=  "_qs}, {}, {}, {}, "",
            (PairingTexts::emptyCode + u'\n').toUtf8(), 2);
    }
    void commands() {
        FakeServices services;
        services.answerSoon = true;
        QFETCH(bool, paired);
        services.paired = paired;
        services.pairOnSuccess = !QByteArray(QTest::currentDataTag()).contains("no pairing");
        QFETCH(CommandResult, result);
        services.result = result;
        QFETCH(Chunks, chunks);
        services.chunks = chunks;
        QFETCH(QStringList, args);
        QFETCH(QByteArray, input);
        const Ran ran = korvanctl(args, services, input);
        QTEST(ran.out, "out");
        QTEST(ran.err, "err");
        QTEST(ran.status, "status");
        QTEST(services.calls, "calls");
        QTEST(services.enrollments, "enrollments");
    }

    void help_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("head"); // its first four lines
        QTest::addColumn<QByteArray>("tail"); // how it ends
        const QByteArray exits = "  2      usage error\n"
                                 "  74     writing to standard output, standard error or --output "
                                 "failed\n  128+N  korvanctl was ended by signal N\n";
        const QByteArray all = "usage: korvanctl <command> [options]\n\ncommands:\n  status "
                               "[--json] [--openmetrics] [--output FILE]\n",
                         allEnd = exits +
                                  "'korvanctl help COMMAND' shows the command's other statuses.\n"
                                  "\nThe service root is $KORVAN_APP_SUPPORT_DIR, or\n~/Library/"
                                  "Application Support/Korvan/Korvan-VPS-Hub when it is unset.\n";
        for (const char* word : {"-h", "--help", "help"})
            QTest::newRow(word) << QStringList{QString::fromLatin1(word)} << all << allEnd;
        const QByteArray status = "usage: korvanctl status [--json] [--openmetrics] [--output "
                                  "FILE]\n\nprint the services' state (the tray menu's lines), "
                                  "as one\nJSON object, or as gauges in the OpenMetrics text "
                                  "format\n";
        QTest::newRow("help status") << QStringList{u"help"_qs, u"status"_qs} << status << exits;
        QTest::newRow("status --help")
            << QStringList{u"status"_qs, u"--json"_qs, u"--help"_qs} << status << exits;
        const QByteArray start = "usage: korvanctl start\n\nstart the services through the "
                                 "control script\n\n",
                         startEnd = "  127    the control script is missing or not executable\n"
                                    "  126    the control script cannot be launched\n"
                                    "  N      the number of the signal that ended the script\n" +
                                    exits;
        QTest::newRow("help start") << QStringList{u"help"_qs, u"start"_qs} << start << startEnd;
    }
    void help() {
        FakeServices services;
        QFETCH(QStringList, args);
        const Ran ran = korvanctl(args, services);
        QTEST(QByteArray(ran.out.split('\n').first(4).join('\n') + '\n'), "head");
        QFETCH(QByteArray, tail);
        QCOMPARE(ran.out.right(tail.size()), tail);
        QCOMPARE(ran.err, QByteArray());
        QCOMPARE(ran.status, 0);
    }

    void doctor_data() {
        QTest::addColumn<QByteArray>("change");
        QTest::addColumn<CommandResult>("result");
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<int>("status");
        const CommandResult report{u"bridge_memory_kb=1\n"_qs, {}, 0}; // a report of one key
        const auto row = [&](const char* name, const QByteArray& change, const QByteArray& lines,
                             int status, CommandResult result) {
            QTest::newRow(name) << change << result << lines << status;
        };
        const QByteArray script = "M/root/scripts/korvan-service-control.sh";
        const QByteArray pair = "        korvanctl pair --hub URL --code -\n";
        // A fix line under an ok line, or a second status run, fails here.
        row("healthy", ":",
            "ok      status run: exited 0 with a status report\n"
            "ok      tray host: a StatusNotifierItem host is registered on the session bus\n",
            0, report);
        row("not executable", "chmod -x root/scripts/*",
            "fail    control script: " + script + " is not executable\n        chmod u+x '" +
                script + "'\n",
            1, report);
        row("not paired, nothing run", "rm root/.env",
            "missing pairing file: M/root/.env not found; the machine is not paired\n" + pair +
                "off     status run: not made; the machine is not paired\n",
            1, report);
        row("pairing file a device", "ln -sf /dev/zero root/.env",
            "fail    pairing file: M/root/.env is a device, not a regular file\n", 1, report);
        row("status run fails", ":",
            "fail    status run: the status run ended with status 2 (its exit code, or the "
            "signal that ended it)\n        see what it says: bash '" +
                script + "' status\n",
            1, {{}, u"syntax error"_qs, 2});
        row("no report", ":", "fail    status run: exited 0 without a status report\n", 1,
            {u"hello\n"_qs, {}, 0});
        const QByteArray noHost = "missing tray host: a StatusNotifierWatcher is on the session "
                                  "bus, but no host has registered with it; no X display\n"
                                  "        start a panel with a tray (on GNOME: "
                                  "gnome-shell-extension-appindicator)\n";
        const QByteArray watcherOnly =
            "put bin/dbus-send '[ $5 = org.freedesktop.DBus.NameHasOwner ] && echo boolean true "
            "|| echo variant boolean false'";
        row("watcher without host, no display", watcherOnly, noHost, 0, report);
        row("watcher without host, Wayland", watcherOnly + "; : WAYLAND_DISPLAY", noHost, 1,
            report);
        row("no dbus-send", "rm bin/dbus-send; : WAYLAND_DISPLAY",
            "unknown tray host: dbus-send not found; no X display\n", 0, report);
        row("empty root variable", ": KORVAN_APP_SUPPORT_DIR",
            "missing service root: M/home/Library/Application Support/Korvan/Korvan-VPS-Hub "
            "(the default; KORVAN_APP_SUPPORT_DIR is empty), does not exist\n",
            1, report);
        row("link elsewhere", "put bin/xdg-mime 'echo other.desktop'",
            "warn    korvan:// links: opened by other.desktop\n        xdg-mime default "
            "korvan-controller.desktop x-scheme-handler/korvan\n",
            0, report);
        const QByteArray entry = "M/home/autostart/korvan-controller.desktop";
        row("start at login names a gone program",
            "mkdir home/autostart; printf '[Desktop Entry]\\nExec=gone\\n' >" + entry.mid(2),
            "warn    start at login: " + entry +
                " names a program that is gone\n        switch "
                "开机启动 off and on again in the tray menu, or remove " +
                entry + "\n",
            0, report);
    }
    void doctor() {
        sh("rm -rf bin home; mkdir -p bin home; cd root\n"
           "printf '#!/bin/bash\\n' >scripts/korvan-service-control.sh; chmod +x scripts/*\n"
           "rm -f .env; printf 'KORVAN_AGENT_HOST_ID=s3cr3t\\nKORVAN_AGENT_TOKEN=s3cr3t\\n' >.env");
        QFETCH(QByteArray, change);
        sh("put() { printf '#!/bin/bash\\n%s\\n' \"$2\" >$1; chmod +x $1; }\n"
           "put bin/dbus-send '[ $6 = string:org.kde.StatusNotifierWatcher ] && echo boolean "
           "true'\n"
           "put bin/xdg-mime '[ $3 = x-scheme-handler/korvan ] && echo "
           "korvan-controller.desktop'\n" +
           change);
        // A variable the row sets, for this run only.
        const QByteArray env = QTest::currentDataTag() == QByteArray("empty root variable")
                                   ? "KORVAN_APP_SUPPORT_DIR"
                                   : "WAYLAND_DISPLAY";
        const QByteArray before = qgetenv(env);
        if (change.contains(env))
            qputenv(env, env == "WAYLAND_DISPLAY" ? "w" : "");
        FakeServices services;
        services.answerSoon = true;
        QFETCH(CommandResult, result);
        services.result = result;
        const Ran ran = korvanctl({u"doctor"_qs}, services);
        env == "WAYLAND_DISPLAY" ? qunsetenv(env) : qputenv(env, before);
        QFETCH(QByteArray, lines);
        QVERIFY2(ran.out.contains(lines), ran.out.constData());
        QVERIFY(!ran.out.contains("s3cr3t"));
        QTEST(ran.status, "status");
        // The tray never asks an unpaired machine; neither does doctor.
        QCOMPARE(services.calls.size(), ran.out.contains("status run: not made") ? 0 : 1);
    }

    // After the guard, a signal ends korvanctl as it would without one.
    void signalsHaveTheirDefaultActionAfterTheGuard() {
        { const cli::SignalGuard guard(runner_); }
        struct sigaction hangUp {};
        QCOMPARE(::sigaction(SIGHUP, nullptr, &hangUp), 0);
        QVERIFY(hangUp.sa_handler == SIG_DFL);
    }

    // A display that accepts and never answers costs the doctor one time limit.
    void doctorOutlastsSilentDisplay() {
        sh("rm -f bin/dbus-send");
        QTcpServer silent;
        int display = 50;
        while (display < 100 && !silent.listen(QHostAddress::LocalHost, quint16(6000 + display)))
            ++display;
        QVERIFY(silent.isListening());
        qputenv("DISPLAY", "127.0.0.1:" + QByteArray::number(display));
        FakeServices services;
        services.answerSoon = true;
        const Ran ran = korvanctl({u"doctor"_qs}, services);
        qunsetenv("DISPLAY");
        const QByteArray expected =
            "; X display 127.0.0.1:" + QByteArray::number(display) + " did not answer\n";
        QVERIFY2(ran.out.contains(expected), ran.out.constData());
    }
};

QTEST_GUILESS_MAIN(KorvanctlTest)
#include "tst_korvanctl.moc"
