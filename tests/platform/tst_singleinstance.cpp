// A primary on this thread's event loop; a later launch on a thread of its
// own, with its own lock file description, as a separate process has.
#include "platform/SingleInstance.h"

#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <unistd.h>

static const QString kKey = QStringLiteral("korvan-controller");

class TestSingleInstance : public QObject {
    Q_OBJECT
    QTemporaryDir runtime_; // 0700 and ours, as a session's runtime folder is

private Q_SLOTS:
    void init() { qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime_.path())); }

    void handOverKeepsEveryArgument_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("link") << QStringList{QStringLiteral("KORVAN://pair?hub=h&code=ab-cd#x")};
        QTest::newRow("none") << QStringList{};
        QTest::newRow("empty, BOM, controls, UTF-8")
            << QStringLiteral("|\uFEFFbom|t\tb\nq\"\\|连接 \U0001F6F0e\u0301").split(u'|');
        QTest::newRow("300 long arguments") << QStringList(300, QString(1000, QChar(0xE9)));
    }
    void handOverKeepsEveryArgument() {
        QFETCH(QStringList, arguments);
        // A socket file left by a crash is replaced.
        QVERIFY(QFile(runtime_.filePath(kKey + QStringLiteral(".sock"))).open(QFile::WriteOnly));

        SingleInstance primary(kKey);
        QCOMPARE(primary.acquire(), SingleInstance::Role::primary);
        QSignalSpy received(&primary, &SingleInstance::argumentsReceived);
        bool forwarded = false;
        std::unique_ptr<QThread> later(QThread::create([&] {
            SingleInstance secondary(kKey);
            forwarded = secondary.acquire() == SingleInstance::Role::secondary &&
                        secondary.forward(arguments);
        }));
        later->start();
        QTRY_VERIFY_WITH_TIMEOUT(later->isFinished(), 15000);
        QVERIFY(forwarded);
        QCOMPARE(received.value(0).value(0).toStringList(), arguments);
    }

    // Only a real directory of ours closed to everyone else holds the channel:
    // $XDG_RUNTIME_DIR ("run"), else $XDG_CACHE_HOME ("cache") /korvan-controller.
    void folderRule_data() {
        QTest::addColumn<QString>("setup");  // shell commands in an empty folder; $c: cache folder
        QTest::addColumn<QString>("chosen"); // "-": refused
        const QString run = QStringLiteral("run"),
                      cache = QStringLiteral("cache/korvan-controller");
        const QString refused = QStringLiteral("-");
        QTest::newRow("private runtime") << "mkdir -m 700 run" << run;
        QTest::newRow("no runtime") << "" << cache;
        QTest::newRow("runtime open to others") << "mkdir -m 1777 run" << cache;
        QTest::newRow("runtime a symlink") << "mkdir -m 700 real; ln -s real run" << cache;
        QTest::newRow("runtime of another user") << "mkdir -m 700 run; chown 65534 run" << cache;
        QTest::newRow("cache folder open to its group") << "mkdir -p -m 750 $c" << refused;
        QTest::newRow("cache folder a symlink") << "mkdir -m 700 r cache; ln -s ../r $c" << refused;
        QTest::newRow("cache of another user") << "mkdir -p -m 700 $c; chown 65534 $c" << refused;
    }
    void folderRule() {
        QFETCH(QString, setup);
        QFETCH(QString, chosen);
        if (setup.contains(QStringLiteral("chown")) && ::geteuid() != 0)
            QSKIP("only root can give a folder away");
        QTemporaryDir dir;
        const QString script = u"cd \"$0\"; c=cache/korvan-controller; " + setup;
        QCOMPARE(QProcess::execute(QStringLiteral("/bin/sh"),
                                   {QStringLiteral("-ec"), script, dir.path()}),
                 0);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.filePath(QStringLiteral("run"))));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.filePath(QStringLiteral("cache"))));
        SingleInstance instance(kKey);
        const bool primary = instance.acquire() == SingleInstance::Role::primary;
        qunsetenv("XDG_CACHE_HOME");
        QCOMPARE(primary ? instance.socketPath() : QStringLiteral("-"),
                 chosen == u"-" ? chosen
                                : dir.filePath(chosen) + QStringLiteral("/korvan-controller.sock"));
    }

    // A client that breaks the rules is dropped unanswered, and the next one served.
    // Frames in hex: their length, then the argument count, then each
    // argument's length and bytes, all lengths 32-bit big-endian.
    void badClientsAreDropped_data() {
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<bool>("stranger"); // the primary expects a user other than us
        QTest::newRow("length over the limit") << QByteArray("0010 0001") << false;
        QTest::newRow("overrun") << QByteArray("0000000b 00000001 0000000a 616263") << false;
        QTest::newRow("invalid UTF-8") << QByteArray("0000000a 00000001 00000002 c328") << false;
        QTest::newRow("silent") << QByteArray() << false;
        QTest::newRow("another user") << QByteArray("00000009 00000001 00000001 78") << true;
    }
    void badClientsAreDropped() {
        QFETCH(QByteArray, hex);
        QFETCH(bool, stranger);
        SingleInstance instance(kKey);
        QCOMPARE(instance.acquire(), SingleInstance::Role::primary);
        instance.setClientTimeout(300);
        instance.setPeerUser(::geteuid() + (stranger ? 1 : 0));
        QSignalSpy received(&instance, &SingleInstance::argumentsReceived);
        QLocalSocket bad, good;
        bad.connectToServer(instance.socketPath());
        bad.write(QByteArray::fromHex(hex));
        QTRY_COMPARE_WITH_TIMEOUT(bad.state(), QLocalSocket::UnconnectedState, 15000);
        instance.setPeerUser(::geteuid());
        good.connectToServer(instance.socketPath());
        good.write(QByteArray::fromHex("0000000f 00000002 00000000 00000003 e4b8ad")); // "", "中"
        QTRY_COMPARE_WITH_TIMEOUT(good.bytesAvailable(), qint64(1), 15000);
        QCOMPARE(good.readAll(), QByteArray("\x06"));
        QCOMPARE(received.value(0).value(0).toStringList(),
                 (QStringList{{}, QStringLiteral("中")}));
    }

    void noHandOverToAnotherUser() {
        SingleInstance primary(kKey), secondary(kKey);
        QCOMPARE(primary.acquire(), SingleInstance::Role::primary);
        secondary.setPeerUser(::geteuid() + 1); // the primary is a stranger to it
        QCOMPARE(secondary.acquire(1000), SingleInstance::Role::unavailable);
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
