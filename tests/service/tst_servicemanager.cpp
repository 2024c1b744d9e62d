// Running children: the control script through ServiceManager and the runner
// underneath, with one real bash script whose behaviour each case selects.
#include "service/ProcessRunner.h"
#include "service/ServiceManager.h"
#include "service/ServiceTexts.h"
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
cut) printf '\xf0\x9f\x98'; sleep 0.25; printf '\x80\xe9'; sleep 0.25; printf '\x94\x99\n'; printf '\xe9\x94' >&2 ;;
cjk) yes a错😀 | head -c 2999997 ;;
fds) ls /proc/self/fd | tr '\n' ' ' ;;
clean) yes | head -c 1 >/dev/null; echo "${PIPESTATUS[0]}"
    read -r -a st < /proc/$$/stat; [ "${st[4]}" = $$ ] && echo leader
    grep -E '^Sig(Blk|Ign)' /proc/self/status | while read -r k v; do echo $((16#$v & 0x7fffffff)); done ;;
grandchild) echo early; ( sleep 0.05; echo late ) & ;;
flood) o=$(head -c 65536 /dev/zero | tr '\0' o); e=$(head -c 65536 /dev/zero | tr '\0' e)
    for i in $(seq 256); do printf %s "$o"; printf %s "$e" >&2; done ;;
hang) echo bridge=online; sleep 600 & wait ;;
held) echo bridge=online; ( sleep 1; echo late ) & exit 4 ;;
16m) head -c 8388608 /dev/zero; head -c 8388608 /dev/zero >&2 ;;
16m+1) head -c 8388608 /dev/zero; head -c 8388609 /dev/zero >&2 ;;
slow) sleep 0.5; echo late ;;
*) printf '%s|' "$(basename "$0")" $# "$1"; pwd >&2 ;;
esac
)SH";

// $SELECT, command word, output, error, status.
using Case = std::tuple<const char*, QString, QString, QString, int>;

QList<Case> cases() {
    const QString stop = QStringLiteral("stop"), status = QStringLiteral("status"), none;
    const QString weird = QStringLiteral("a b'$(x)\"*"), timedOut = ServiceTexts::statusTimedOut;
    return {
        {"exit3", stop, QStringLiteral("out\nx\n\n"), QStringLiteral("错\n"), 3},
        {"", weird, u"korvan-service-control.sh|1|" + weird + u'|', QDir::currentPath() + u'\n', 0},
        {"kill", stop, QStringLiteral("before\n"), none, 9},
        {"badout", stop, none, QStringLiteral("fine\n"), 1},
        {"cut", stop, QStringLiteral("😀错\n"), none, 0}, // stderr ends inside a sequence
        {"cjk", stop, QStringLiteral("a错😀\n").repeated(333333), none, 0},
        {"fds", stop, QStringLiteral("0 1 2 3 "), none, 0}, // after the test marks its own
        {"clean", stop, QStringLiteral("141\nleader\n0\n0\n"), none, 0},
        {"grandchild", stop, QStringLiteral("early\nlate\n"), none, 0},
        {"flood", QStringLiteral("start"), QString(1 << 24, u'o'), QString(1 << 24, u'e'), 0},
        {"hang", status, none, timedOut, 9},
        {"held", status, QStringLiteral("bridge=online\n"), none, 4},
        {"16m", status, QString(1 << 23, QChar()), QString(1 << 23, QChar()), 0},
        {"16m+1", status, none, timedOut, 9},
        {"slow", QStringLiteral("start"), QStringLiteral("late\n"), none, 0},
    };
}

void launch(ServiceManager& manager, const QString& word, const char* select,
            std::function<void(const CommandResult&)> completion) {
    *select ? qputenv("SELECT", select) : qunsetenv("SELECT");
    manager.run(word, std::move(completion));
    qunsetenv("SELECT");
}

// Nothing when the result came inside run() or not at all.
std::optional<CommandResult> runOnce(ServiceManager& manager, const QString& word) {
    std::optional<CommandResult> r;
    launch(manager, word, "", [&](const CommandResult& result) { r = result; });
    if (r || !QTest::qWaitFor([&] { return r.has_value(); }, 30000))
        return std::nullopt;
    return r;
}

// Our descriptors, threads and children (zombies included).
QStringList census() {
    QFile children(QStringLiteral("/proc/self/task/%1/children").arg(::getpid()));
    const QDir::Filters all = QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot;
    return QDir(QStringLiteral("/proc/self/fd")).entryList(all) +
               QDir(QStringLiteral("/proc/self/task")).entryList(all)
           << QString::fromLatin1(children.open(QIODevice::ReadOnly) ? children.readAll() : "?");
}

} // namespace

class TestRunner : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyCaseAtOnce();
    void missingScript();
    void grandchildHoldingPipeDelaysOnlyItsOwnRun();
};

void TestRunner::everyCaseAtOnce() {
    // Rounds of every case at once (KORVAN_SOAK_RUNS; `make soak`) in a parent that ignores
    // SIGPIPE and blocks SIGUSR1; nothing, orphans included (ours to reap), stays behind.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t block{};
    sigaddset(&block, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &block, nullptr);
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    for (int fd = 3; fd < 1024; ++fd)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    TestServiceRoot root("r\xff"); // a name that is not UTF-8 is still that folder
    root.writeScript(kScript);
    ServiceManager hanging, patient;
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
            launch(QByteArray("hang slow").contains(select) ? hanging : patient, word, select,
                   [&, expected, select](const CommandResult& r) {
                       ++done;
                       if (r != expected)
                           wrong << QString::fromUtf8(select) + u' ' + QString::number(r.status);
                   });
            ++started;
        }
        QVERIFY(QTest::qWaitFor([&] { return done == started; }, 60000));
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(u"; ")));
        while (::waitpid(-1, nullptr, WNOHANG) > 0) // orphans; no run of ours is left
            ;
    }
    QVERIFY(QTest::qWaitFor(
        [&] { return ::waitpid(-1, nullptr, WNOHANG) <= 0 && census() == before; }, 5000));
}

void TestRunner::missingScript() { // also: never completed inside run()
    TestServiceRoot root;
    ServiceManager manager;
    root.writeScript("exit 0\n", false);
    QCOMPARE(runOnce(manager, QStringLiteral("start")),
             (CommandResult{QString(), ServiceTexts::scriptMissing, 127}));
}

void TestRunner::grandchildHoldingPipeDelaysOnlyItsOwnRun() {
    TestServiceRoot slowRoot;
    slowRoot.writeScript("echo started; ( exec sleep 600 ) & echo $! > \"$0.pid\"\n");
    ServiceManager manager;
    std::optional<CommandResult> slow;
    launch(manager, QStringLiteral("start"), "", [&](const CommandResult& r) { slow = r; });
    const auto pid = [&] { return slowRoot.readFile("scripts/korvan-service-control.sh.pid"); };
    QVERIFY(QTest::qWaitFor([&] { return !pid().isEmpty(); }, 20000));
    TestServiceRoot quickRoot; // the root is read afresh at each call
    quickRoot.writeScript("echo quick\n");
    QCOMPARE(runOnce(manager, QStringLiteral("status"))->output.toString(),
             QStringLiteral("quick\n"));
    QVERIFY(!slow); // its grandchild still holds the pipe
    QCOMPARE(::kill(pid().trimmed().toInt(), SIGKILL), 0);
    QVERIFY(QTest::qWaitFor([&] { return slow.has_value(); }, 20000));
    QCOMPARE(*slow, (CommandResult{QStringLiteral("started\n"), QString(), 0}));
}

QTEST_GUILESS_MAIN(TestRunner)
#include "tst_servicemanager.moc"
