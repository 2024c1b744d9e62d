// Service benchmarks, each against a baseline measured in the same run:
//   status round trip through ServiceManager  vs  spawning the script bare
//   draining 256 MiB through both pipes       vs  a minimal reader in C, and cat
//   a start run checked as strict UTF-8,      vs  the run alone
//     256 MiB of ASCII and of CJK text
//   checking 16 MiB as UTF-8 (GB/s)           vs  Qt's decoding of it
//   longest main-loop stall while 2 x 16 MiB  vs  the same loop with no run
//     is read
//   parsing a 16 MiB status report's bytes    vs  splitting them into lines
// Prints one row per benchmark for bench/run: name, median, baseline median,
// unit, goal.
#include "core/ServiceSnapshot.h"
#include "core/Utf8Check.h"
#include "service/ProcessRunner.h"
#include "service/ServiceManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Alternates subject and baseline so drifting machine load hits both alike.
std::pair<double, double> measure(int rounds, const std::function<void()>& subject,
                                  const std::function<void()>& baseline) {
    std::vector<double> s, b;
    QElapsedTimer t;
    for (int i = 0; i < rounds; ++i) {
        t.start();
        subject();
        s.push_back(double(t.nsecsElapsed()) / 1e6);
        t.start();
        baseline();
        b.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    return {median(s), median(b)};
}

void spawnAndWait(const char* program, std::vector<const char*> argv, bool quiet) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program, &actions, nullptr, const_cast<char**>(argv.data()), environ) ==
        0) {
        int st = 0;
        while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
        }
    }
    posix_spawn_file_actions_destroy(&actions);
}

// What the runner does for one drain, in plain C: both pipes polled and read
// into buffers that double once less than 64 KiB is free, kept whole.
void cReader(const char* script) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        std::abort();
    fcntl(out[0], F_SETPIPE_SZ, 1024 * 1024);
    fcntl(err[0], F_SETPIPE_SZ, 1024 * 1024);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    const char* argv[] = {"/bin/bash", script, "drain", nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, "/bin/bash", &actions, nullptr, const_cast<char**>(argv), environ) != 0)
        std::abort();
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    struct Buffer {
        char* data = nullptr;
        size_t size = 0, used = 0;
    } buffers[2];
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    for (int open = 2; open > 0;) {
        poll(fds, 2, -1);
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            Buffer& b = buffers[i];
            if (b.size - b.used < 64 * 1024) {
                b.size = std::max(2 * b.size, b.used + 64 * 1024);
                b.data = static_cast<char*>(std::realloc(b.data, b.size));
            }
            const ssize_t got = read(fds[i].fd, b.data + b.used, b.size - b.used);
            if (got <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                b.used += size_t(got);
            }
        }
    }
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    std::free(buffers[0].data);
    std::free(buffers[1].data);
}

// The longest time between two turns of the event loop while `work` keeps it
// busy until `done`, in milliseconds.
double longestStall(const std::function<void(bool&)>& work) {
    bool done = false;
    double longest = 0;
    QElapsedTimer clock;
    QTimer tick;
    QEventLoop loop;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, double(clock.nsecsElapsed()) / 1e6);
        clock.start();
        if (done)
            loop.quit();
    });
    tick.start(0);
    clock.start();
    work(done);
    loop.exec();
    return longest;
}

// One tab-separated row for bench/run, which prints every benchmark of the
// project as one table: name, median, baseline median, unit, goal (the
// highest acceptable ratio, "-" for none), and "abs" when the goal bounds the
// median itself rather than the ratio.
void row(const char* name, std::pair<double, double> m, double goal, bool absolute = false,
         const char* unit = "ms") {
    char goalText[32] = "-";
    if (goal > 0)
        std::snprintf(goalText, sizeof goalText, "%.2f", goal);
    std::printf("%s\t%.3f\t%.3f\t%s\t%s%s\n", name, m.first, m.second, unit, goalText,
                absolute ? "\tabs" : "");
    std::fflush(stdout);
}

// `bytes` of CJK text, three bytes a character, cycling through the unified
// ideographs so that every lead and continuation value of the block occurs.
QByteArray cjkText(qsizetype bytes) {
    QString text;
    text.reserve(bytes / 3);
    for (qsizetype i = 0; i < bytes / 3; ++i)
        text += QChar(char16_t(0x4E00 + i % 0x51A6));
    return text.toUtf8();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QDir().mkpath(dir.path() + QStringLiteral("/scripts"));
    const QString script = dir.path() + QStringLiteral("/scripts/korvan-service-control.sh");
    {
        QFile f(script);
        f.open(QIODevice::WriteOnly);
        f.write("#!/bin/bash\n"
                "if [ \"$1\" = drain ] || [ \"$1\" = start ]; then\n"
                "  head -c 134217728 /dev/zero & head -c 134217728 /dev/zero >&2; wait; exit 0\n"
                "fi\n"
                "if [ \"$1\" = restart ]; then\n"
                "  f=\"$(dirname \"$0\")/cjk\"\n"
                "  cat \"$f\" \"$f\" \"$f\" \"$f\" \"$f\" \"$f\" \"$f\" \"$f\" &\n"
                "  cat \"$f\" \"$f\" \"$f\" \"$f\" \"$f\" \"$f\" \"$f\" \"$f\" >&2; wait; exit 0\n"
                "fi\n"
                "if [ \"$1\" = flood ]; then\n"
                "  head -c 16777216 /dev/zero & head -c 16777216 /dev/zero >&2; wait; exit 0\n"
                "fi\n"
                "printf 'desired=enabled\\nbridge=online\\nagent=online\\nhub=online\\n"
                "bridge_memory_kb=512\\nagent_memory_kb=256\\n'\n");
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // 16 MiB less one byte, a whole number of characters; eight of them on
    // each stream make the CJK run about as long as the ASCII one.
    const QByteArray cjk = cjkText(16 * 1024 * 1024 - 1);
    {
        QFile f(dir.path() + QStringLiteral("/scripts/cjk"));
        f.open(QIODevice::WriteOnly);
        f.write(cjk);
    }
    qputenv("KORVAN_APP_SUPPORT_DIR", QFile::encodeName(dir.path()));
    const QByteArray scriptPath = QFile::encodeName(script);

    ServiceManager manager;
    auto runAndWait = [&](const QString& word) {
        QEventLoop loop;
        manager.run(word, [&](const CommandResult&) { loop.quit(); });
        loop.exec();
    };

    row("status round trip vs bare spawn",
        measure(
            60,
            [&] {
                QEventLoop loop;
                manager.status([&](const ServiceSnapshot&) { loop.quit(); });
                loop.exec();
            },
            [&] {
                spawnAndWait("/bin/bash", {"/bin/bash", scriptPath.constData(), "status"}, true);
            }),
        1.10);

    // The runner alone: both pipes drained into memory, nothing decoded.
    ProcessRunner& runner = manager.runner();
    ProcessJob drainJob;
    drainJob.program = "/bin/bash";
    drainJob.arguments = {scriptPath.toStdString(), "drain"};
    drainJob.environment = currentEnvironment();
    const auto drain = [&] { runner.runToEnd(drainJob); };
    row("drain 256 MiB vs C reader", measure(5, drain, [&] { cReader(scriptPath.constData()); }),
        1.10);

    // The same 2 x 128 MiB through `cat` into /dev/null: the cost of making
    // and moving the bytes, without keeping them. For information.
    row("drain 256 MiB vs cat to /dev/null",
        measure(3, drain,
                [] {
                    spawnAndWait("/bin/bash",
                                 {"/bin/bash", "-c",
                                  "head -c 134217728 /dev/zero | cat >/dev/null & "
                                  "head -c 134217728 /dev/zero | cat >/dev/null; wait"},
                                 false);
                }),
        0);

    // Through ServiceManager, which checks both streams as strict UTF-8 and
    // keeps the bytes; against the runner alone on the same command word.
    const auto runAlone = [&](const char* word) {
        ProcessJob job = drainJob;
        job.arguments = {scriptPath.toStdString(), word};
        return [&runner, job] { runner.runToEnd(job); };
    };
    row("run + check 256 MiB ASCII vs run",
        measure(
            7, [&] { runAndWait(QStringLiteral("start")); }, runAlone("start")),
        1.20);
    row("run + check 256 MiB CJK vs run",
        measure(
            7, [&] { runAndWait(QStringLiteral("restart")); }, runAlone("restart")),
        1.40);

    // The check alone, in GB/s, against Qt's (lenient) decoding of the same
    // bytes into UTF-16, which is what a run's output used to go through.
    const QByteArray ascii(cjk.size(), 'a');
    bool allWellFormed = true;
    const auto gbPerSecond = [](qsizetype bytes, double ms) { return double(bytes) / ms / 1e6; };
    for (const auto& [name, bytes] : {std::pair{"check 16 MiB ASCII as UTF-8, GB/s", &ascii},
                                      std::pair{"check 16 MiB CJK as UTF-8, GB/s", &cjk}}) {
        const auto [check, decode] = measure(
            20, [&, bytes = bytes] { allWellFormed &= utf8::isWellFormed(*bytes); },
            [&, bytes = bytes] { allWellFormed &= !QString::fromUtf8(*bytes).isEmpty(); });
        row(name, {gbPerSecond(bytes->size(), check), gbPerSecond(bytes->size(), decode)}, 0, false,
            "GB/s");
    }
    if (!allWellFormed)
        return 2;

    // A frame at 60 Hz: reading a flood must never hold the main loop longer.
    std::vector<double> busy, idle;
    for (int i = 0; i < 5; ++i) {
        busy.push_back(longestStall([&](bool& done) {
            manager.run(QStringLiteral("flood"), [&done](const CommandResult&) { done = true; });
        }));
        idle.push_back(
            longestStall([](bool& done) { QTimer::singleShot(200, [&done] { done = true; }); }));
    }
    row("main-loop stall reading 2 x 16 MiB", {median(busy), median(idle)}, 16, true);

    QByteArray reportBytes;
    const QByteArray lines("desired=enabled\nbridge=online\nagent=online\nhub=online\n"
                           "bridge_memory_kb=512\nagent_memory_kb=256\nnoise=xxxxxxxx\n");
    while (reportBytes.size() + lines.size() <= 16 * 1024 * 1024)
        reportBytes += lines;
    const Utf8Text report = *Utf8Text::fromUtf8(reportBytes);
    qsizetype sink = 0;
    row("parse 16 MiB report vs line split",
        measure(
            10, [&] { sink += ServiceSnapshot::parse(report).bridgeMemoryKB; },
            [&] { sink += report.bytes().split('\n').size(); }),
        0);
    return sink == 42 ? 1 : 0;
}
