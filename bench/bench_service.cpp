// Service benchmarks, each against a baseline measured in the same run:
//   status round trip through ServiceManager  vs  spawning the script bare
//   draining 256 MiB through both pipes       vs  cat of the same bytes
//   parsing a 1 MiB status report             vs  splitting it into lines
// Prints one row per benchmark for bench/run: name, median, baseline median,
// unit, goal.
#include "service/ProcessRunner.h"
#include "service/ServiceManager.h"
#include "core/ServiceSnapshot.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <sys/wait.h>
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

// One tab-separated row for bench/run, which prints every benchmark of the
// project as one table: name, median, baseline median, unit, goal (the
// highest acceptable ratio, "-" for none).
void row(const char* name, std::pair<double, double> m, double goal) {
    char goalText[32] = "-";
    if (goal > 0)
        std::snprintf(goalText, sizeof goalText, "%.2f", goal);
    std::printf("%s\t%.3f\t%.3f\tms\t%s\n", name, m.first, m.second, goalText);
    std::fflush(stdout);
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
                "if [ \"$1\" = drain ]; then\n"
                "  head -c 134217728 /dev/zero & head -c 134217728 /dev/zero >&2; wait; exit 0\n"
                "fi\n"
                "printf 'desired=enabled\\nbridge=online\\nagent=online\\nhub=online\\n"
                "bridge_memory_kb=512\\nagent_memory_kb=256\\n'\n");
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
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

    // The same 2 x 128 MiB through `cat` into /dev/null: the cost of making
    // and moving the bytes, without keeping them.
    const auto catBaseline = [] {
        spawnAndWait("/bin/bash",
                     {"/bin/bash", "-c",
                      "head -c 134217728 /dev/zero | cat >/dev/null & "
                      "head -c 134217728 /dev/zero | cat >/dev/null; wait"},
                     false);
    };

    // The runner alone: both pipes drained into memory, nothing decoded.
    ProcessSpec drainSpec;
    drainSpec.program = "/bin/bash";
    drainSpec.arguments = {scriptPath.toStdString(), "drain"};
    drainSpec.environment = currentEnvironment();
    row("drain 256 MiB vs cat to /dev/null",
        measure(
            5, [&] { runProcess(drainSpec); }, catBaseline),
        1.5);

    // The same through ServiceManager: decoding 256 MiB of UTF-8 into the
    // result's text adds its own cost, shown against the same baseline.
    row("run + decode 256 MiB vs cat",
        measure(
            3, [&] { runAndWait(QStringLiteral("drain")); }, catBaseline),
        0);

    QString report;
    const QString lines =
        QStringLiteral("desired=enabled\nbridge=online\nagent=online\nhub=online\n"
                       "bridge_memory_kb=512\nagent_memory_kb=256\nnoise=xxxxxxxx\n");
    while (report.size() < 1024 * 1024 / 2) // QString holds two bytes per character
        report += lines;
    qsizetype sink = 0;
    row("parse 1 MiB report vs line split",
        measure(
            40, [&] { sink += ServiceSnapshot::parse(report).bridgeMemoryKB; },
            [&] { sink += report.split(u'\n').size(); }),
        0);
    return sink == 42 ? 1 : 0;
}
