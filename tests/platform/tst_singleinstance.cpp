// A primary on this thread's event loop; a later launch on a thread of its
// own, with its own lock file description, as a separate process has.
#include "platform/SingleInstance.h"

#include <QDir>
#include <QLocalSocket>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

static const QString kKey = QStringLiteral("korvan-controller");

// `count` clients of the primary, connected until descriptors run out.
static auto connections(const SingleInstance& primary, int count) {
    std::vector<std::unique_ptr<QLocalSocket>> clients(count);
    for (auto& client : clients) {
        client = std::make_unique<QLocalSocket>();
        client->connectToServer(primary.socketPath());
    }
    return clients;
}

static qsizetype cutOff(const auto& clients) {
    return std::ranges::count_if(
        clients, [](const auto& c) { return c->state() == QLocalSocket::UnconnectedState; });
}

class TestSingleInstance : public QObject {
    Q_OBJECT
    QTemporaryDir runtime_; // 0700 and ours, as a session's runtime folder is

private Q_SLOTS:
    void init() { qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime_.path())); }

    // A client that breaks the rules is dropped unanswered ("another user": its user is not
    // ours), and a later launch still hands over every argument. Frames in hex: length,
    // argument count, each argument's length and bytes; integers 32-bit big-endian. A flood
    // runs out of descriptors before any client is accepted, and Qt's listener closes.
    void handOver_data() {
        QTest::addColumn<QByteArray>("hex");        // what a client sends first
        QTest::addColumn<QStringList>("arguments"); // what the next launch hands over
        QTest::addColumn<int>("room"); // descriptors left for 100 clients; 0: one client
        QTest::addColumn<bool>("handedOver");
        const QStringList link{u"KORVAN://pair?hub=h&code=ab-cd#x"_qs};
        QTest::newRow("length over the limit")
            << QByteArray("0010 0001")
            << QStringLiteral("|\uFEFFbom|t\tb\nq\"\\|连接 \U0001F6F0e\u0301").split(u'|') << 0
            << true;
        QTest::newRow("overrun") << QByteArray("0000000b 00000001 0000000a 616263")
                                 << QStringList(300, QString(1000, QChar(0xE9))) << 0 << true;
        QTest::newRow("invalid UTF-8")
            << QByteArray("0000000a 00000001 00000002 c328") << link << 0 << true;
        QTest::newRow("silent") << QByteArray() << QStringList() << 0 << true;
        QTest::newRow("too long for one frame")
            << QByteArray() << QStringList(2, QString(300000, QChar(0xE9))) << 0 << false;
        QTest::newRow("another user")
            << QByteArray("00000009 00000001 00000001 78") << link << 0 << true;
        QTest::newRow("flood") << QByteArray() << link << 20 << true; // under the listen backlog
    }
    void handOver() {
        QFETCH(QByteArray, hex);
        QFETCH(QStringList, arguments);
        QFETCH(int, room);
        // A socket file left by a crash is replaced.
        QVERIFY(QFile(runtime_.filePath(kKey + QStringLiteral(".sock"))).open(QFile::WriteOnly));
        using namespace std::chrono_literals;
        SingleInstance primary(kKey, nullptr, 20ms, 20ms);
        QCOMPARE(primary.acquire(), SingleInstance::Role::primary);
        primary.setClientTimeout(300);
        primary.setPeerUser(::geteuid() + (QTest::currentDataTag() == QByteArray("another user")));
        QSignalSpy received(&primary, &SingleInstance::argumentsReceived);
        rlimit saved{}, low{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        const QStringList open = QDir(u"/proc/self/fd"_qs).entryList(QDir::System);
        for (low.rlim_max = saved.rlim_max; room > 0; ++low.rlim_cur)
            room -= !open.contains(QString::number(low.rlim_cur));
        {
            const auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_NOFILE, &saved); });
            QCOMPARE(::setrlimit(RLIMIT_NOFILE, low.rlim_cur ? &low : &saved), 0);
            const auto bad = connections(primary, low.rlim_cur ? 100 : 1);
            bad.front()->write(QByteArray::fromHex(hex));
            QVERIFY(cutOff(bad) < qsizetype(bad.size()));
            QTRY_COMPARE_WITH_TIMEOUT(cutOff(bad), qsizetype(bad.size()), 15000);
        }
        primary.setPeerUser(::geteuid());
        bool forwarded = false;
        std::unique_ptr<QThread> later(QThread::create([&] {
            SingleInstance secondary(kKey);
            forwarded = secondary.acquire() == SingleInstance::Role::secondary &&
                        secondary.forward(arguments);
        }));
        later->start();
        QTRY_VERIFY_WITH_TIMEOUT(later->isFinished(), 15000);
        QFETCH(bool, handedOver);
        QCOMPARE(forwarded, handedOver);
        QCOMPARE(received.size(), qsizetype(handedOver));
        QCOMPARE(received.value(0).value(0).toStringList(), handedOver ? arguments : QStringList());
        SingleInstance stranger(kKey); // to which the primary is someone else
        stranger.setPeerUser(::geteuid() + 1);
        QCOMPARE(stranger.acquire(1000), SingleInstance::Role::unavailable);
        QCOMPARE(stranger.forward(arguments), false);
    }

    // Silent clients beyond the cap are refused at once; the others wait for their deadline.
    void waitingClientsAreCapped() {
        SingleInstance primary(kKey);
        QCOMPARE(primary.acquire(), SingleInstance::Role::primary);
        const auto clients = connections(primary, SingleInstance::maxWaitingClients + 3);
        QTRY_COMPARE(cutOff(clients), 3);
    }

    // The socket itself admits no one else, whatever the umask of the launch.
    void socketIsForThisUserOnly() {
        const mode_t umask = ::umask(0);
        SingleInstance primary(kKey);
        const SingleInstance::Role role = primary.acquire();
        ::umask(umask);
        QCOMPARE(role, SingleInstance::Role::primary);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(primary.socketPath()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(S_IRWXU));
    }

    // Only a real directory of ours closed to everyone else holds the channel: $XDG_RUNTIME_DIR
    // ("run"), else $XDG_CACHE_HOME ($x, when absolute; else $h/.cache) /korvan-controller ($c).
    void folderRule_data() {
        QTest::addColumn<QString>("setup");  // shell lines in an empty folder
        QTest::addColumn<QString>("chosen"); // or why none is
        const char* const rows[][3] = {
            {"private runtime", "mkdir -m 700 run", "run"},
            {"runtime open to others", "mkdir -m 1777 run", "cache/korvan-controller"},
            {"runtime a symlink", "mkdir -m 700 real; ln -s real run", "cache/korvan-controller"},
            {"runtime of another user", "mkdir -m 700 run; chown 65534 run",
             "cache/korvan-controller"},
            {"relative cache variable", "x=cache", "h/.cache/korvan-controller"},
            {"relative cache, no HOME", "x=cache h=",
             "no folder for the hand-over channel: XDG_RUNTIME_DIR is not private and HOME is not "
             "an absolute path"},
            {"cache folder open to its group", "mkdir -p -m 750 $c",
             "refusing cache/korvan-controller: not a directory of this user closed to others"}};
        for (const auto& row : rows)
            QTest::newRow(row[0]) << QString::fromUtf8(row[1]) << QString::fromUtf8(row[2]);
    }
    void folderRule() {
        QFETCH(QString, setup);
        if (setup.contains(u"chown"_qs) && ::geteuid() != 0)
            QSKIP("only root can give a folder away");
        QTemporaryDir dir;
        const QString script = u"cd \"$0\"; c=cache/korvan-controller x=$PWD/cache h=$PWD/h\n"_qs;
        QProcess sh; // prints what $XDG_CACHE_HOME and $HOME become
        sh.start(u"/bin/sh"_qs,
                 {u"-ec"_qs, script + setup + u"\nprintf %s \"$x|$h\""_qs, dir.path()});
        QVERIFY(sh.waitForFinished());
        QCOMPARE(sh.exitCode(), 0);
        const QList<QByteArray> env = sh.readAllStandardOutput().split('|');
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.filePath(u"run"_qs)));
        qputenv("XDG_CACHE_HOME", env[0]);
        qputenv("HOME", env[1]);
        SingleInstance instance(kKey);
        const bool primary = instance.acquire() == SingleInstance::Role::primary;
        QTEST(primary ? instance.socketPath().remove(dir.path() + u'/').chopped(23)
                      : instance.errorString().remove(dir.path() + u'/'),
              "chosen");
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
