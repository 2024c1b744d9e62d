// Running children: the control script through ServiceManager and the runner
// underneath, with one real bash script whose behaviour each case selects.
#include "service/ProcessRunner.h"
#include "service/ServiceManager.h"
#include "support/TestServiceRoot.h"

#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>

namespace {

// The behaviour is picked by $SELECT, else by the command word.
const QByteArray kScript = R"SH(case "${SELECT:-$1}" in
exit3) echo out; echo 错 >&2; printf 'x\n\n'; exit 3 ;;
kill) echo before; kill -KILL $$ ;;
badout) printf 'ok\xff'; echo fine >&2; exit 1 ;;
fds) ls /proc/self/fd | tr '\n' ' ' ;;
clean) yes | head -c 1 >/dev/null; echo "${PIPESTATUS[0]}"
    read -r -a st < /proc/$$/stat; [ "${st[4]}" = $$ ] && echo leader
    grep -E '^Sig(Blk|Ign)' /proc/self/status | while read -r k v; do echo $((16#$v & 0x7fffffff)); done ;;
flood) o=$(head -c 65536 /dev/zero | tr '\0' o); e=$(head -c 65536 /dev/zero | tr '\0' e)
    for i in $(seq 256); do printf %s "$o"; printf %s "$e" >&2; done ;;
hang) echo bridge=online; sleep 600 & wait ;;
held) echo bridge=online; ( sleep 1; echo late ) & exit 4 ;;
16m) head -c 8388608 /dev/zero; head -c 8388608 /dev/zero >&2 ;;
16m+1) head -c 8388608 /dev/zero; head -c 8388609 /dev/zero >&2 ;;
slow) sleep 0.5; echo late ;;
errlast) echo out; exec >&-; ( sleep 0.3; echo late >&2 ) & ;;
outlast) echo err >&2; exec 2>&-; ( sleep 0.3; echo late ) & ;;
*) printf '%s|' "$(basename "$0")" $# "$1"; pwd >&2 ;;
esac
)SH";

// $SELECT, command word, output, error, status.
using Case = std::tuple<const char*, QString, QString, QString, int>;

QList<Case> cases() {
    const QString stop = QStringLiteral("stop"), status = QStringLiteral("status"), none;
    const QString weird = QStringLiteral("a b'$(x)\"*"), timedOut = u"status timed out"_qs;
    return {
        {"exit3", stop, QStringLiteral("out\nx\n\n"), QStringLiteral("错\n"), 3},
        {"", weird, u"korvan-service-control.sh|1|" + weird + u'|', QDir::currentPath() + u'\n', 0},
        {"kill", stop, QStringLiteral("before\n"), none, 9},
        {"badout", stop, none, QStringLiteral("fine\n"), 1},
        {"fds", stop, QStringLiteral("0 1 2 3 "), none, 0}, // after the test marks its own
        {"clean", stop, QStringLiteral("141\nleader\n0\n0\n"), none, 0},
        {"flood", QStringLiteral("start"), QString(1 << 24, u'o'), QString(1 << 24, u'e'), 0},
        {"hang", status, none, timedOut, 9},
        {"held", status, QStringLiteral("bridge=online\n"), none, 4},
        {"16m", status, QString(1 << 23, QChar()), QString(1 << 23, QChar()), 0},
        {"16m+1", status, none, timedOut, 9},
        {"slow", QStringLiteral("start"), QStringLiteral("late\n"), none, 0},
        // Each stream is awaited to its end, not only the first one to end.
        {"errlast", stop, QStringLiteral("out\n"), QStringLiteral("late\n"), 0},
        {"outlast", stop, QStringLiteral("late\n"), QStringLiteral("err\n"), 0},
    };
}

// Our descriptors, threads and children (zombies included).
QStringList census() {
    QFile children(QStringLiteral("/proc/self/task/%1/children").arg(::getpid()));
    const QDir::Filters all = QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot;
    return QDir(QStringLiteral("/proc/self/fd")).entryList(all) +
               QDir(QStringLiteral("/proc/self/task")).entryList(all)
           << QString::fromLatin1(children.open(QIODevice::ReadOnly) ? children.readAll() : "?");
}

bool watchesAPidfd() {
    const QFileInfoList fds = QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System);
    return std::any_of(fds.begin(), fds.end(),
                       [](const QFileInfo& fd) { return fd.symLinkTarget().endsWith(u"[pidfd]"); });
}

} // namespace

class TestRunner : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); } // orphans are ours to reap
    void everyCaseAtOnce_data();
    void everyCaseAtOnce();
    void interruptAfterDelivery();
};

void TestRunner::everyCaseAtOnce_data() {
    QTest::addColumn<ProcessRunner::ExitWatch>("watch");
    QTest::newRow("exits seen through a pidfd") << ProcessRunner::ExitWatch::pidfd;
    QTest::newRow("exits looked for now and then") << ProcessRunner::ExitWatch::polling;
}

void TestRunner::everyCaseAtOnce() {
    // Rounds of every case at once (KORVAN_SOAK_RUNS; `make soak`) in a parent that ignores
    // SIGPIPE and SIGCHLD and blocks SIGUSR1; nothing, orphans included, stays behind.
    QFETCH(ProcessRunner::ExitWatch, watch);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGCHLD, SIG_IGN); // as a parent may leave it
    sigset_t block{};
    sigaddset(&block, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &block, nullptr);
    for (int fd = 3; fd < 1024; ++fd)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    TestServiceRoot root("r\xff"); // a name that is not UTF-8 is still that folder
    root.writeScript(kScript);
    ServiceManager hanging(ServiceRoot::homeDirectory(), std::chrono::seconds(60), watch);
    ServiceManager patient(ServiceRoot::homeDirectory(), std::chrono::seconds(60), watch);
    hanging.setStatusTimeLimit(std::chrono::milliseconds(300));
    patient.setStatusExitGrace(std::chrono::milliseconds(150));
    const QList<Case> all = cases();
    const QStringList before = census();
    int started = 0, done = 0;
    QStringList wrong;
    while (started < std::max<int>(qEnvironmentVariableIntValue("KORVAN_SOAK_RUNS"), all.size())) {
        for (const auto& [select, word, output, error, status] : all) {
            const CommandResult expected{output, error, status};
            // Only "status" is limited: "slow" runs where the limit is short.
            qputenv("SELECT", select);
            (QByteArray("hang slow").contains(select) ? hanging : patient)
                .run(word, [&, expected, select](const CommandResult& r) {
                    ++done;
                    if (r != expected)
                        wrong << QString::fromUtf8(select) + u' ' + QString::number(r.status);
                });
            ++started;
        }
        qunsetenv("SELECT");
        QCOMPARE(watchesAPidfd(), watch == ProcessRunner::ExitWatch::pidfd);
        QVERIFY(QTest::qWaitFor([&] { return done == started; }, 60000));
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(u"; ")));
        while (::waitpid(-1, nullptr, WNOHANG) > 0) // orphans; no run of ours is left
            ;
    }
    QVERIFY(QTest::qWaitFor(
        [&] { return ::waitpid(-1, nullptr, WNOHANG) <= 0 && census() == before; }, 5000));
}

void TestRunner::interruptAfterDelivery() { // the group's number may be a stranger's by now
    TestServiceRoot root;                   // holds the number of the job that outlives the run
    const char* script = "sleep 600 & echo $! >$KORVAN_APP_SUPPORT_DIR/job";
    ProcessJob job{"/bin/bash", {"-c", script}, currentEnvironment()};
    job.exitGrace = std::chrono::milliseconds(50); // the job holds the output open
    job.timeLimit = std::chrono::seconds(20);      // a deadline, should the grace not end it
    ProcessRunner runner;
    QCOMPARE(runner.runToEnd(std::move(job)).kind, ProcessOutcome::Kind::exited);
    runner.interrupt(SIGINT);
    const pid_t orphan = root.readFile("job").trimmed().toInt(); // ours, as its script is gone
    QCOMPARE(::kill(orphan, SIGKILL), 0);
    siginfo_t info{};
    QCOMPARE(::waitid(P_PID, id_t(orphan), &info, WEXITED), 0);
    QCOMPARE(info.si_status, SIGKILL); // not the runner's SIGTERM
}

QTEST_GUILESS_MAIN(TestRunner)
#include "tst_servicemanager.moc"
