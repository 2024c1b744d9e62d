// Running the control script: results, streams, statuses, threads, descriptors
// and time limits, with real bash scripts in temporary service roots.
#include "service/ProcessRunner.h"
#include "service/ServiceManager.h"
#include "support/TestServiceRoot.h"

#include <QCoreApplication>
#include <QDir>
#include <QTest>
#include <QThread>
#include <csignal>
#include <fcntl.h>
#include <memory>

namespace {

struct Capture {
    std::optional<CommandResult> result;
    bool onMainThread = false;
    int calls = 0;
};

// Starts a run whose completion lands in the returned capture.
std::shared_ptr<Capture> start(ServiceManager& manager, const QString& word) {
    auto capture = std::make_shared<Capture>();
    manager.run(word, [capture](const CommandResult& r) {
        capture->result = r;
        capture->onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        ++capture->calls;
    });
    return capture;
}

CommandResult runOnce(ServiceManager& manager, const QString& word, int timeoutMs = 20000) {
    auto c = start(manager, word);
    if (!QTest::qWaitFor([&] { return c->result.has_value(); }, timeoutMs))
        qFatal("run of %s did not complete", qPrintable(word));
    if (!c->onMainThread)
        qFatal("completion was not on the main thread");
    return *c->result;
}

// The descriptors a child of this process inherits anyway (not close-on-exec),
// as `ls` would list them, plus `ls`'s own directory descriptor, which takes
// the lowest free number.
QString inheritedDescriptorListing() {
    QList<int> fds{0, 1, 2};
    const QStringList entries =
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System);
    for (const QString& name : entries) {
        const int fd = name.toInt();
        const int flags = ::fcntl(fd, F_GETFD);
        if (fd > 2 && flags >= 0 && !(flags & FD_CLOEXEC))
            fds << fd;
    }
    int own = 3;
    while (fds.contains(own))
        ++own;
    fds << own;
    QStringList names;
    for (int fd : fds)
        names << QString::number(fd);
    names.sort();
    return names.join(u' ') + u' ';
}

int openDescriptorCount() {
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

} // namespace

class TestServiceManager : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void missingScript_data();
    void missingScript();
    void results_data();
    void results();
    void commandWordReachesScriptUnparsed();
    void environmentIsReadAtEachCall();
    void childStartsWithDefaultSignals();
    void largeInterleavedStreamsArriveWhole();
    void descriptorsDoNotLeak();
    void grandchildHoldingPipeDelaysOnlyItsOwnRun();
    void hungStatusIsEndedAtItsLimit();
    void statusParsesReport();
    void launchFailureIsReported();
    void noCompletionAfterManagerIsGone();
};

void TestServiceManager::missingScript_data() {
    QTest::addColumn<int>("kind");
    QTest::newRow("absent") << 0;
    QTest::newRow("not executable") << 1;
    QTest::newRow("directory") << 2;
    QTest::newRow("root does not exist") << 3;
}

void TestServiceManager::missingScript() {
    QFETCH(int, kind);
    TestServiceRoot root;
    if (kind == 1)
        root.writeScript("touch \"$(dirname \"$0\")/ran\"\n", false);
    if (kind == 2)
        QVERIFY(QDir().mkpath(root.scriptPath()));
    if (kind == 3)
        qputenv("KORVAN_APP_SUPPORT_DIR", QFile::encodeName(root.path() + QStringLiteral("/nope")));
    ServiceManager manager;
    const CommandResult r = runOnce(manager, QStringLiteral("start"));
    QCOMPARE(r.status, 127);
    QCOMPARE(r.output, QString());
    QCOMPARE(r.error, QStringLiteral("找不到 Korvan 服务控制脚本，请先更新 Korvan。"));
    QVERIFY(!QFile::exists(root.path() + QStringLiteral("/scripts/ran")));
}

void TestServiceManager::results_data() {
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("status");
    QTest::newRow("both streams, exit 3")
        << QByteArray("echo out; echo 错误 >&2; printf 'x\\n\\n'; exit 3")
        << QStringLiteral("out\nx\n\n") << QStringLiteral("错误\n") << 3;
    QTest::newRow("silent success") << QByteArray("exit 0") << QString() << QString() << 0;
    QTest::newRow("silent failure") << QByteArray("exit 42") << QString() << QString() << 42;
    QTest::newRow("killed by SIGKILL")
        << QByteArray("echo before; kill -KILL $$") << QStringLiteral("before\n") << QString() << 9;
    QTest::newRow("terminated by SIGTERM")
        << QByteArray("kill -TERM $$") << QString() << QString() << 15;
    QTest::newRow("invalid UTF-8 empties stdout only")
        << QByteArray("printf 'ok\\xff'; echo fine >&2; exit 1") << QString()
        << QStringLiteral("fine\n") << 1;
    QTest::newRow("invalid UTF-8 empties stderr only")
        << QByteArray("echo fine; printf '\\xc3' >&2") << QStringLiteral("fine\n") << QString()
        << 0;
    QTest::newRow("stdin is inherited, not a pipe")
        << QByteArray("[ -p /dev/stdin ] && echo pipe || echo other") << QStringLiteral("other\n")
        << QString() << 0;
}

void TestServiceManager::results() {
    QFETCH(QByteArray, script);
    TestServiceRoot root;
    root.writeScript(script + '\n');
    ServiceManager manager;
    const CommandResult r = runOnce(manager, QStringLiteral("stop"));
    QTEST(r.output, "output");
    QTEST(r.error, "error");
    QTEST(int(r.status), "status");
}

void TestServiceManager::commandWordReachesScriptUnparsed() {
    TestServiceRoot root;
    root.writeScript("printf '%s|' \"$0\" \"$#\" \"$1\"; printf '%s' \"$(pwd)\" >&2\n");
    ServiceManager manager;
    const QString word = QStringLiteral("a b'$(x)\"*");
    const CommandResult r = runOnce(manager, word);
    QCOMPARE(r.output, root.scriptPath() + QStringLiteral("|1|") + word + u'|');
    QCOMPARE(r.error, QDir::currentPath()); // working directory inherited
}

void TestServiceManager::environmentIsReadAtEachCall() {
    TestServiceRoot first;
    first.writeScript("echo first:$KORVAN_TEST_VALUE\n");
    TestServiceRoot second; // now the current root
    second.writeScript("echo second:$KORVAN_TEST_VALUE\n");
    ServiceManager manager;
    qputenv("KORVAN_TEST_VALUE", "one");
    QCOMPARE(runOnce(manager, QStringLiteral("status")).output, QStringLiteral("second:one\n"));
    qputenv("KORVAN_APP_SUPPORT_DIR", QFile::encodeName(first.path()));
    qputenv("KORVAN_TEST_VALUE", "two");
    QCOMPARE(runOnce(manager, QStringLiteral("status")).output, QStringLiteral("first:two\n"));
    qunsetenv("KORVAN_TEST_VALUE");
}

void TestServiceManager::childStartsWithDefaultSignals() {
    // A controller that ignores SIGPIPE and blocks SIGUSR1 must not hand
    // either to the script: `yes` would never die of SIGPIPE otherwise.
    TestServiceRoot root;
    root.writeScript("yes | head -c 1 >/dev/null; echo \"${PIPESTATUS[0]}\"\n"
                     "grep -E '^Sig(Blk|Ign)' /proc/self/status\n");
    const auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &block, &old);
    ServiceManager manager;
    const CommandResult r = runOnce(manager, QStringLiteral("status"));
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    std::signal(SIGPIPE, oldPipe);
    // Only the classic signals 1..31 matter to scripts; the C library keeps
    // its two internal real-time signals ignored in spawned children.
    const QStringList lines = r.output.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QStringLiteral("141"));
    for (const QString& line : lines.mid(1)) {
        bool ok = false;
        const qulonglong mask = line.section(u'\t', 1).toULongLong(&ok, 16);
        QVERIFY(ok);
        QVERIFY2((mask & 0x7fffffffULL) == 0, qPrintable(line));
    }
}

void TestServiceManager::largeInterleavedStreamsArriveWhole() {
    TestServiceRoot root;
    // 16 MiB on each stream, written in alternating 64 KiB slices so the
    // script stalls unless both pipes are drained at once.
    root.writeScript(
        "chunk=$(head -c 65536 /dev/zero | tr '\\0' o)\n"
        "echunk=$(head -c 65536 /dev/zero | tr '\\0' e)\n"
        "for i in $(seq 256); do printf %s \"$chunk\"; printf %s \"$echunk\" >&2; done\n");
    ServiceManager manager;
    const CommandResult r = runOnce(manager, QStringLiteral("status"), 60000);
    QCOMPARE(r.status, 0);
    QCOMPARE(r.output.size(), 16 * 1024 * 1024);
    QCOMPARE(r.error.size(), 16 * 1024 * 1024);
    QCOMPARE(r.output.count(u'o'), r.output.size());
    QCOMPARE(r.error.count(u'e'), r.error.size());
}

void TestServiceManager::descriptorsDoNotLeak() {
    TestServiceRoot root;
    root.writeScript("echo ok; echo err >&2; ls /proc/self/fd | tr '\\n' ' ' >&2\n");
    ServiceManager manager;
    runOnce(manager, QStringLiteral("status")); // warm up lazily opened descriptors
    const int before = openDescriptorCount();
    const QString expectedListing = QStringLiteral("err\n") + inheritedDescriptorListing();
    int done = 0;
    for (int batch = 0; batch < 20; ++batch) {
        std::vector<std::shared_ptr<Capture>> runs;
        for (int i = 0; i < 10; ++i)
            runs.push_back(start(manager, QStringLiteral("status")));
        QVERIFY(QTest::qWaitFor(
            [&] {
                for (auto& c : runs)
                    if (!c->result)
                        return false;
                return true;
            },
            30000));
        for (auto& c : runs) {
            QCOMPARE(c->result->output, QStringLiteral("ok\n"));
            // Concurrent runs never inherit each other's pipes: a command of
            // the script sees 0, 1, 2 and its own directory descriptor.
            QCOMPARE(c->result->error, expectedListing);
            ++done;
        }
    }
    QCOMPARE(done, 200);
    QCOMPARE(openDescriptorCount(), before);
}

void TestServiceManager::grandchildHoldingPipeDelaysOnlyItsOwnRun() {
    TestServiceRoot slowRoot;
    slowRoot.writeScript("echo started\n"
                         "( exec sleep 600 ) &\n"
                         "echo $! > \"$(dirname \"$0\")/grandchild.pid\"\n"
                         "exit 0\n");
    ServiceManager manager;
    auto slow = start(manager, QStringLiteral("start"));
    const QString pidFile = slowRoot.path() + QStringLiteral("/scripts/grandchild.pid");
    QVERIFY(QTest::qWaitFor([&] { return QFile(pidFile).size() > 0; }, 20000));

    TestServiceRoot quickRoot;
    quickRoot.writeScript("echo quick\n");
    auto quick = start(manager, QStringLiteral("status"));
    QVERIFY(QTest::qWaitFor([&] { return quick->result.has_value(); }, 20000));
    QCOMPARE(quick->result->output, QStringLiteral("quick\n"));
    QVERIFY(!slow->result); // its grandchild still holds the pipe

    const pid_t grandchild =
        slowRoot.readFile(QStringLiteral("scripts/grandchild.pid")).trimmed().toInt();
    QVERIFY(grandchild > 0);
    QCOMPARE(::kill(grandchild, SIGKILL), 0);
    QVERIFY(QTest::qWaitFor([&] { return slow->result.has_value(); }, 20000));
    QCOMPARE(slow->result->output, QStringLiteral("started\n"));
    QCOMPARE(slow->result->status, 0);
    QCOMPARE(slow->calls, 1);
}

void TestServiceManager::hungStatusIsEndedAtItsLimit() {
    TestServiceRoot root;
    root.writeScript(
        "if [ \"$1\" = status ]; then echo bridge=online; exec sleep 600; fi\n"
        "if [ \"$1\" = detached ]; then setsid sleep 600 & echo agent=online; exit 0; fi\n"
        "echo done-$1\n");
    ServiceManager manager;
    manager.setStatusTimeLimit(std::chrono::milliseconds(800));
    std::optional<ServiceSnapshot> snapshot;
    manager.status([&](const ServiceSnapshot& s) { snapshot = s; });
    // Other runs go on while the status query hangs.
    QCOMPARE(runOnce(manager, QStringLiteral("start")).output, QStringLiteral("done-start\n"));
    QVERIFY(!snapshot);
    QVERIFY(QTest::qWaitFor([&] { return snapshot.has_value(); }, 20000));
    QCOMPARE(*snapshot, ServiceSnapshot()); // a partial report is never presented

    const CommandResult timedOut = runOnce(manager, QStringLiteral("status"));
    QCOMPARE(timedOut.status, SIGKILL);
    QCOMPARE(timedOut.output, QString());

    // Only "status" has a limit; a detached descendant holding the pipe of a
    // limited run cannot keep it past the limit either.
    manager.setStatusTimeLimit(std::chrono::milliseconds(5000));
    QCOMPARE(runOnce(manager, QStringLiteral("other")).output, QStringLiteral("done-other\n"));
}

void TestServiceManager::statusParsesReport() {
    TestServiceRoot root;
    root.writeScript(
        "printf 'desired=enabled\\nbridge=online\\nagent=online\\nhub=online\\n"
        "bridge_memory_kb=512\\nagent_memory_kb=256\\n'; echo ignored=1 >&2; exit 5\n");
    ServiceManager manager;
    std::optional<ServiceSnapshot> snapshot;
    bool mainThread = false;
    manager.status([&](const ServiceSnapshot& s) {
        snapshot = s;
        mainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
    });
    QVERIFY(QTest::qWaitFor([&] { return snapshot.has_value(); }, 20000));
    QVERIFY(mainThread);
    QCOMPARE(snapshot->state(), RemoteState::linked);
    QCOMPARE(snapshot->bridgeMemoryKB, 512);
    QCOMPARE(snapshot->agentMemoryKB, 256);
}

void TestServiceManager::launchFailureIsReported() {
    ProcessSpec job;
    job.program = "/nonexistent/interpreter";
    job.environment = currentEnvironment();
    const ProcessOutcome outcome = runProcess(job);
    QCOMPARE(outcome.kind, ProcessOutcome::Kind::launchFailed);
    QCOMPARE(outcome.launchError, ENOENT);
    QVERIFY(!systemErrorText(outcome.launchError).isEmpty());
}

void TestServiceManager::noCompletionAfterManagerIsGone() {
    TestServiceRoot root;
    root.writeScript("echo x\n");
    bool called = false;
    {
        ServiceManager manager;
        manager.run(QStringLiteral("status"), [&](const CommandResult&) { called = true; });
    }
    // A run posted after the manager died must be dropped; a later run of a
    // live manager proves the event loop has had its chance to deliver.
    ServiceManager other;
    runOnce(other, QStringLiteral("status"));
    QTest::qWait(0);
    QVERIFY(!called);
}

QTEST_GUILESS_MAIN(TestServiceManager)
#include "tst_servicemanager.moc"
