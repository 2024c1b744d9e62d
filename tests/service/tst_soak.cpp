// Long-running load on ServiceManager: many overlapping runs of a control
// script that answers, hangs, dies by signal, leaves grandchildren behind and
// floods its pipes. Afterwards descriptors, threads and child processes must
// be back where they started, and resident memory must not have crept up.
//
// KORVAN_SOAK_RUNS sets the number of runs (default 600; `make soak` runs far
// more).
#include "service/ServiceManager.h"
#include "support/TestServiceRoot.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <malloc.h>
#include <unistd.h>

namespace {

constexpr int kFloodOut = 3 * 1024 * 1024;
constexpr int kFloodErr = 1024 * 1024;

// One script for every behaviour, picked by the command word; "status" hangs
// when SOAK_HANG is set in its environment.
const QByteArray kScript = R"(
case "$1" in
status)
    if [ -n "$SOAK_HANG" ]; then
        echo desired=disabled
        exec sleep 600
    fi
    printf 'desired=enabled\nbridge=online\nagent=online\nhub=online\nbridge_memory_kb=%d\n' "$$"
    ;;
signal)
    echo before
    kill -KILL $$
    ;;
grandchild)
    # One grandchild holds the pipe a little longer, one lets go at once;
    # both end on their own.
    echo early
    ( sleep 0.05; echo late ) &
    ( sleep 0.3 ) </dev/null >/dev/null 2>&1 &
    ;;
flood)
    head -c 1048576 /dev/zero | tr '\0' e >&2 &
    head -c 3145728 /dev/zero | tr '\0' o
    wait
    ;;
fail)
    echo "broken" >&2
    exit 3
    ;;
esac
)";

int entriesIn(const QString& dir) {
    return int(QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
}

int openDescriptors() {
    return entriesIn(QStringLiteral("/proc/self/fd"));
}

int threads() {
    return entriesIn(QStringLiteral("/proc/self/task"));
}

struct Children {
    int alive = 0;
    int zombies = 0;
};

// Every process whose parent is this one, zombies counted apart.
Children childProcesses() {
    Children result;
    const QByteArray self = QByteArray::number(qint64(::getpid()));
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& pid : pids) {
        if (pid.isEmpty() || !pid.front().isDigit())
            continue;
        QFile stat(QStringLiteral("/proc/") + pid + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue; // gone meanwhile
        const QByteArray line = stat.readAll();
        // "pid (comm) state ppid ...": comm may hold spaces and parentheses.
        const qsizetype close = line.lastIndexOf(')');
        if (close < 0)
            continue;
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() < 2 || fields[1] != self)
            continue;
        if (fields[0] == "Z")
            ++result.zombies;
        else
            ++result.alive;
    }
    return result;
}

// Resident memory in bytes. Free heap memory is handed back first, so the
// figure follows live allocations rather than what the allocator caches
// from the last megabyte-sized outputs.
qint64 residentBytes() {
    ::malloc_trim(0);
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        qFatal("cannot read /proc/self/statm");
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLongLong() * ::sysconf(_SC_PAGESIZE);
}

int soakRuns() {
    bool ok = false;
    const int runs = qEnvironmentVariableIntValue("KORVAN_SOAK_RUNS", &ok);
    return ok && runs > 0 ? runs : 600;
}

// What one round found wrong, or empty.
struct Round {
    int expected = 0;
    int delivered = 0;
    QStringList faults;
};

} // namespace

class TestSoak : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void manyRunsLeaveNothingBehind();

private:
    // Starts one mixed batch of overlapping runs and waits for all of them.
    void round(ServiceManager& manager, ServiceManager& hanging, int& runs);
};

void TestSoak::round(ServiceManager& manager, ServiceManager& hanging, int& runs) {
    auto state = std::make_shared<Round>();
    const auto fault = [state](const QString& what) { state->faults << what; };
    const auto expectResult = [&](const QString& word, auto check) {
        ++state->expected;
        manager.run(word, [state, word, check, fault](const CommandResult& r) {
            ++state->delivered;
            if (!check(r))
                fault(word + QStringLiteral(": status ") + QString::number(r.status) +
                      QStringLiteral(", output ") + QString::number(r.output.size()) +
                      QStringLiteral(" chars, error ") + r.error.left(80));
        });
    };
    const auto expectStatus = [&](ServiceManager& m, RemoteState wanted) {
        ++state->expected;
        m.status([state, wanted, fault](const ServiceSnapshot& s) {
            ++state->delivered;
            if (s.state() != wanted)
                fault(QStringLiteral("status: state ") + remoteStateName(s.state()));
            if (wanted == RemoteState::linked && s.bridgeMemoryKB <= 0)
                fault(QStringLiteral("status: no memory figure"));
        });
    };

    // A hung status ends at the time limit with nothing parsed, so its
    // "disabled" line never counts.
    qputenv("SOAK_HANG", "1");
    expectStatus(hanging, RemoteState::failed);
    qunsetenv("SOAK_HANG");
    for (int i = 0; i < 4; ++i)
        expectStatus(manager, RemoteState::linked);
    expectResult(QStringLiteral("signal"), [](const CommandResult& r) {
        return r.status == SIGKILL && r.output == u"before\n";
    });
    expectResult(QStringLiteral("grandchild"), [](const CommandResult& r) {
        return r.status == 0 && r.output == u"early\nlate\n";
    });
    expectResult(QStringLiteral("flood"), [](const CommandResult& r) {
        return r.status == 0 && r.output.size() == kFloodOut && r.error.size() == kFloodErr &&
               r.output.count(u'o') == kFloodOut;
    });
    expectResult(QStringLiteral("fail"), [](const CommandResult& r) {
        return r.status == 3 && r.output.isEmpty() && r.error == u"broken\n";
    });
    for (int i = 0; i < 3; ++i)
        expectStatus(manager, RemoteState::linked);

    const bool done = QTest::qWaitFor([&] { return state->delivered >= state->expected; }, 60000);
    runs += state->expected;
    if (!done)
        QFAIL(qPrintable(QStringLiteral("only %1 of %2 completions arrived")
                             .arg(state->delivered)
                             .arg(state->expected)));
    if (!state->faults.isEmpty())
        QFAIL(qPrintable(state->faults.join(QStringLiteral("; "))));
    // A completion delivered twice would show up on the next turns.
    QCoreApplication::processEvents();
    QCOMPARE(state->delivered, state->expected);
}

void TestSoak::manyRunsLeaveNothingBehind() {
    // glibc raises its mmap threshold after each large free, after which the
    // megabyte outputs land in per-thread heaps that stay resident in varying
    // amounts. A fixed threshold sends them back to the system when freed,
    // so resident memory follows what is still allocated.
    ::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    TestServiceRoot root;
    root.writeScript(kScript);
    // Answering status runs keep the default limit, so a loaded machine never
    // turns them into timeouts; the hanging ones get a short one.
    ServiceManager manager;
    ServiceManager hanging;
    hanging.setStatusTimeLimit(std::chrono::milliseconds(150));

    const int fdsBefore = openDescriptors();
    const int threadsBefore = threads();
    const Children childrenBefore = childProcesses();
    const auto workersGone = [&] {
        return QTest::qWaitFor([&] { return threads() == threadsBefore; }, 10000);
    };

    // Memory is sampled after every round once the workers are gone. The
    // allocator keeps varying amounts of the megabyte outputs around, so
    // each end is judged by its lowest sample: a leak lifts the floor.
    constexpr int kWarmUpRounds = 3;
    constexpr int kSampledRounds = 5;
    QList<qint64> samples;
    int runs = 0;
    const int target = soakRuns();
    for (int done = 0; runs < target || done < kWarmUpRounds + 2 * kSampledRounds; ++done) {
        round(manager, hanging, runs);
        if (QTest::currentTestFailed())
            return;
        QVERIFY2(workersGone(), "worker threads did not end");
        if (done >= kWarmUpRounds)
            samples << residentBytes();
    }
    qInfo("soak: %d runs", runs);

    // Worker threads finish just after posting, and the detached
    // grandchildren are no business of ours; give stragglers a moment.
    QVERIFY2(
        workersGone(),
        qPrintable(QStringLiteral("threads: %1 before, %2 now").arg(threadsBefore).arg(threads())));
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     const Children now = childProcesses();
                     return now.alive == childrenBefore.alive && now.zombies == 0;
                 },
                 10000),
             qPrintable(QStringLiteral("children: %1 alive and %2 zombies")
                            .arg(childProcesses().alive)
                            .arg(childProcesses().zombies)));
    QVERIFY2(QTest::qWaitFor([&] { return openDescriptors() == fdsBefore; }, 10000),
             qPrintable(QStringLiteral("descriptors: %1 before, %2 now")
                            .arg(fdsBefore)
                            .arg(openDescriptors())));

    const qint64 before = *std::min_element(samples.cbegin(), samples.cbegin() + kSampledRounds);
    const qint64 after = *std::min_element(samples.cend() - kSampledRounds, samples.cend());
    const qint64 growth = after - before;
    qInfo("soak: resident memory grew by %lld KiB", growth / 1024);
    QVERIFY2(growth < 2 * 1024 * 1024,
             qPrintable(QStringLiteral("resident memory grew by %1 KiB").arg(growth / 1024)));
}

QTEST_GUILESS_MAIN(TestSoak)
#include "tst_soak.moc"
