// Drives instance_probe as real processes against private runtime and
// temporary directories, and feeds a primary in this process raw bytes.
#include "platform/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int deadlineMs = 15000;
const QString key = QStringLiteral("korvan-controller");

QProcessEnvironment runtimeEnvironment(const QString& runtimeDir, const QString& tmpDir) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    if (!runtimeDir.isNull())
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    env.insert(QStringLiteral("TMPDIR"), tmpDir);
    env.insert(QStringLiteral("HOME"), tmpDir);
    return env;
}

std::unique_ptr<QProcess> startProbe(const QStringList& arguments, const QProcessEnvironment& env) {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(env);
    process->start(QStringLiteral(KORVAN_INSTANCE_PROBE), arguments);
    return process;
}

// The next line the probe prints, or a null array once it has exited
// without one.
QByteArray nextLine(QProcess& process) {
    static_cast<void>(QTest::qWaitFor(
        [&] { return process.canReadLine() || process.state() == QProcess::NotRunning; },
        deadlineMs));
    if (!process.canReadLine())
        return {};
    return process.readLine().chopped(1);
}

QStringList decodeList(const QByteArray& json) {
    QStringList list;
    const QJsonArray array = QJsonDocument::fromJson(json).array();
    for (const auto& value : array)
        list.append(value.toString());
    return list;
}

struct Forwarded {
    int exitCode = -1;
    QByteArray output;
};

Forwarded runSecondary(const QStringList& arguments, const QProcessEnvironment& env) {
    auto process = startProbe(arguments, env);
    Forwarded result;
    if (!process->waitForFinished(deadlineMs))
        return result;
    result.exitCode = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
    result.output = process->readAllStandardOutput();
    return result;
}

QByteArray u32(quint32 value) {
    char bytes[4];
    qToBigEndian(value, bytes);
    return QByteArray(bytes, 4);
}

// Written out by hand so that the wire format is pinned here, not derived.
QByteArray frameOf(const QList<QByteArray>& arguments) {
    QByteArray body = u32(quint32(arguments.size()));
    for (const QByteArray& argument : arguments)
        body += u32(quint32(argument.size())) + argument;
    return u32(quint32(body.size())) + body;
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

private:
    // Starts a primary, checks that it says so, and returns it.
    std::unique_ptr<QProcess> startPrimary(const QProcessEnvironment& env) {
        auto primary = startProbe({}, env);
        const QByteArray first = nextLine(*primary);
        if (first != "primary") {
            qWarning() << "probe said" << first << primary->readAllStandardError();
            return nullptr;
        }
        return primary;
    }

    void quitPrimary(QProcess& primary, const QProcessEnvironment& env) {
        const Forwarded quit = runSecondary({QStringLiteral("--probe-quit")}, env);
        QCOMPARE(quit.exitCode, 0);
        QVERIFY(primary.waitForFinished(deadlineMs));
        QCOMPARE(primary.exitCode(), 0);
    }

private Q_SLOTS:
    void handOverKeepsEveryArgumentExactly_data();
    void handOverKeepsEveryArgumentExactly();
    void staleSocketIsTakenOver_data();
    void staleSocketIsTakenOver();
    void simultaneousStartsLeaveOnePrimary_data();
    void simultaneousStartsLeaveOnePrimary();
    void fallbackDirectoryWithoutRuntimeDir_data();
    void fallbackDirectoryWithoutRuntimeDir();
    void malformedFramesAreDropped_data();
    void malformedFramesAreDropped();
    void oversizedListIsNotSent();
};

void TestSingleInstance::handOverKeepsEveryArgumentExactly_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("none") << QStringList{};
    QTest::newRow("link") << QStringList{
        QStringLiteral("KORVAN://pair?hub=https%3A%2F%2Fhub.example&code=abcd-efgh#x")};
    QTest::newRow("spaces") << QStringList{QStringLiteral("two words"), QStringLiteral(" lead"),
                                           QStringLiteral("trail "), QStringLiteral("   ")};
    QTest::newRow("utf-8") << QStringList{QStringLiteral("连接 Korvan"),
                                          QStringLiteral("\U0001F6F0\uFE0F"),
                                          QStringLiteral("e\u0301")};
    QTest::newRow("empty strings") << QStringList{QString(), QStringLiteral("x"), QString()};
    QTest::newRow("bom, controls, quotes")
        << QStringList{QStringLiteral("\uFEFFbom"), QStringLiteral("tab\there"),
                       QStringLiteral("line\nbreak"), QStringLiteral("q\"b\\s'$(x)")};
    QTest::newRow("long argument") << QStringList{QString(50000, QChar(0xE9))};
    QStringList many;
    for (int i = 0; i < 300; ++i)
        many.append(QString::number(i));
    QTest::newRow("many arguments") << many;
}

void TestSingleInstance::handOverKeepsEveryArgumentExactly() {
    QFETCH(QStringList, arguments);
    QTemporaryDir runtime, tmp;
    const auto env = runtimeEnvironment(runtime.path(), tmp.path());
    auto primary = startPrimary(env);
    QVERIFY(primary);
    const QString socket = runtime.path() + u'/' + key + QStringLiteral(".sock");
    QVERIFY(QFileInfo(socket).exists());

    const Forwarded secondary = runSecondary(arguments, env);
    QCOMPARE(secondary.exitCode, 0);
    QCOMPARE(secondary.output, QByteArray("forwarded\n"));
    QCOMPARE(decodeList(nextLine(*primary)), arguments);

    quitPrimary(*primary, env);
    QVERIFY(!QFileInfo::exists(socket));
}

void TestSingleInstance::staleSocketIsTakenOver_data() {
    QTest::addColumn<QString>("leftover");
    QTest::newRow("killed primary") << QStringLiteral("killed");
    QTest::newRow("plain file") << QStringLiteral("file");
    QTest::newRow("bound, never listening") << QStringLiteral("bound");
}

void TestSingleInstance::staleSocketIsTakenOver() {
    QFETCH(QString, leftover);
    QTemporaryDir runtime, tmp;
    const auto env = runtimeEnvironment(runtime.path(), tmp.path());
    const QString socket = runtime.path() + u'/' + key + QStringLiteral(".sock");

    if (leftover == QLatin1String("killed")) {
        auto crashed = startPrimary(env);
        QVERIFY(crashed);
        crashed->kill();
        QVERIFY(crashed->waitForFinished(deadlineMs));
    } else if (leftover == QLatin1String("file")) {
        QFile file(socket);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("left over");
    } else {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        QVERIFY(fd >= 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(socket);
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        const int rc = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::close(fd);
        QCOMPARE(rc, 0);
    }
    QVERIFY(QFileInfo::exists(socket));

    auto primary = startPrimary(env);
    QVERIFY(primary);
    const Forwarded secondary = runSecondary({QStringLiteral("after")}, env);
    QCOMPARE(secondary.exitCode, 0);
    QCOMPARE(decodeList(nextLine(*primary)), QStringList{QStringLiteral("after")});
    quitPrimary(*primary, env);
}

void TestSingleInstance::simultaneousStartsLeaveOnePrimary_data() {
    QTest::addColumn<int>("count");
    QTest::newRow("2") << 2;
    QTest::newRow("4") << 4;
    QTest::newRow("6") << 6;
}

void TestSingleInstance::simultaneousStartsLeaveOnePrimary() {
    QFETCH(int, count);
    QTemporaryDir runtime, tmp;
    const auto env = runtimeEnvironment(runtime.path(), tmp.path());

    std::vector<std::unique_ptr<QProcess>> launches;
    for (int i = 0; i < count; ++i)
        launches.push_back(startProbe({QStringLiteral("launch %1").arg(i)}, env));

    QProcess* primary = nullptr;
    QStringList forwarded;
    for (int i = 0; i < count; ++i) {
        QProcess& launch = *launches[size_t(i)];
        const QByteArray first = nextLine(launch);
        if (first == "primary") {
            QVERIFY2(!primary, "two launches became primary");
            primary = &launch;
        } else {
            QCOMPARE(first, QByteArray("forwarded"));
            QVERIFY(launch.state() == QProcess::NotRunning || launch.waitForFinished(deadlineMs));
            QCOMPARE(launch.exitCode(), 0);
            forwarded.append(QStringLiteral("launch %1").arg(i));
        }
    }
    QVERIFY2(primary, "no launch became primary");
    QCOMPARE(primary->state(), QProcess::Running);

    QStringList received;
    for (int i = 0; i < count - 1; ++i) {
        const QStringList list = decodeList(nextLine(*primary));
        QCOMPARE(list.size(), 1);
        received.append(list.first());
    }
    received.sort();
    forwarded.sort();
    QCOMPARE(received, forwarded);
    quitPrimary(*primary, env);
}

void TestSingleInstance::fallbackDirectoryWithoutRuntimeDir_data() {
    QTest::addColumn<QString>("runtimeDir"); // null: unset
    QTest::addColumn<QString>("existing");   // what already sits at the fallback path
    QTest::addColumn<bool>("usable");
    QTest::newRow("unset, created") << QString() << QString() << true;
    QTest::newRow("empty, created") << QStringLiteral("") << QString() << true;
    QTest::newRow("relative") << QStringLiteral("run/user") << QString() << true;
    QTest::newRow("missing") << QStringLiteral("/nonexistent/run") << QString() << true;
    QTest::newRow("private dir kept") << QString() << QStringLiteral("private") << true;
    QTest::newRow("open to group refused") << QString() << QStringLiteral("group") << false;
    QTest::newRow("symlink refused") << QString() << QStringLiteral("symlink") << false;
    QTest::newRow("plain file refused") << QString() << QStringLiteral("file") << false;
    QTest::newRow("socket path too long") << QString() << QStringLiteral("long") << false;
    if (::geteuid() == 0)
        QTest::newRow("foreign owner refused") << QString() << QStringLiteral("foreign") << false;
}

void TestSingleInstance::fallbackDirectoryWithoutRuntimeDir() {
    QFETCH(QString, runtimeDir);
    QFETCH(QString, existing);
    QFETCH(bool, usable);
    QTemporaryDir tmp;
    QString tmpDir = tmp.path();
    if (existing == QLatin1String("long"))
        tmpDir += u'/' + QString(100, u'd');
    QVERIFY(QDir().mkpath(tmpDir));
    const QString dir = tmpDir + u'/' + key + u'-' + QString::number(::geteuid());
    const QByteArray nativeDir = QFile::encodeName(dir);
    const QString socket = dir + u'/' + key + QStringLiteral(".sock");

    if (existing == QLatin1String("private")) {
        QCOMPARE(::mkdir(nativeDir.constData(), 0700), 0);
    } else if (existing == QLatin1String("group")) {
        QCOMPARE(::mkdir(nativeDir.constData(), 0700), 0);
        QCOMPARE(::chmod(nativeDir.constData(), 0750), 0);
    } else if (existing == QLatin1String("symlink")) {
        const QByteArray target = QFile::encodeName(tmp.path() + QStringLiteral("/elsewhere"));
        QCOMPARE(::mkdir(target.constData(), 0700), 0);
        QCOMPARE(::symlink(target.constData(), nativeDir.constData()), 0);
    } else if (existing == QLatin1String("file")) {
        QFile file(dir);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (existing == QLatin1String("foreign")) {
        QCOMPARE(::mkdir(nativeDir.constData(), 0700), 0);
        QCOMPARE(::chown(nativeDir.constData(), 65534, 65534), 0);
    }

    const auto env = runtimeEnvironment(runtimeDir, tmpDir);
    if (!usable) {
        auto refused = startProbe({}, env);
        QVERIFY(refused->waitForFinished(deadlineMs));
        QCOMPARE(refused->exitCode(), 2);
        QVERIFY(refused->readAllStandardOutput().isEmpty());
        QVERIFY(!QFileInfo::exists(socket));
        return;
    }

    auto primary = startPrimary(env);
    QVERIFY(primary);
    struct stat st {};
    QCOMPARE(::lstat(nativeDir.constData(), &st), 0);
    QVERIFY(S_ISDIR(st.st_mode));
    QCOMPARE(st.st_mode & 0777, mode_t(0700));
    QVERIFY(QFileInfo(socket).exists());

    const Forwarded secondary = runSecondary({QStringLiteral("via fallback")}, env);
    QCOMPARE(secondary.exitCode, 0);
    QCOMPARE(decodeList(nextLine(*primary)), QStringList{QStringLiteral("via fallback")});
    quitPrimary(*primary, env);
}

void TestSingleInstance::malformedFramesAreDropped_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("clientLeaves");
    const QByteArray valid = frameOf({"ok"});
    QTest::newRow("length over the limit")
        << u32(quint32(SingleInstance::maxFrameBytes) + 1) + QByteArray(64, 'x') << false;
    QTest::newRow("length 2^32-1") << u32(0xFFFFFFFFu) << false;
    QTest::newRow("empty frame") << u32(0) << false;
    QTest::newRow("count beyond contents") << u32(8) + u32(1000) + u32(0) << false;
    QTest::newRow("argument overruns frame") << u32(11) + u32(1) + u32(10) + "abc" << false;
    QTest::newRow("junk after arguments") << u32(11) + u32(1) + u32(1) + "a" + "zz" << false;
    QTest::newRow("bytes after the frame") << valid + "x" << false;
    QTest::newRow("invalid UTF-8") << frameOf({"\xC3\x28"}) << false;
    QTest::newRow("encoded surrogate") << frameOf({"\xED\xA0\x80"}) << false;
    QTest::newRow("truncated, client gone") << u32(100) + "abc" << true;
    QTest::newRow("silent client") << QByteArray() << false;
}

void TestSingleInstance::malformedFramesAreDropped() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, clientLeaves);
    QTemporaryDir runtime;
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    SingleInstance instance(key);
    const auto role = instance.acquire();
    qputenv("XDG_RUNTIME_DIR", savedRuntime);
    QCOMPARE(role, SingleInstance::Role::primary);
    instance.setClientTimeout(300);
    QSignalSpy received(&instance, &SingleInstance::argumentsReceived);

    QLocalSocket bad;
    bad.connectToServer(instance.socketPath());
    QVERIFY(bad.waitForConnected(deadlineMs));
    bad.write(bytes);
    bad.flush();
    if (clientLeaves)
        bad.disconnectFromServer();
    else
        QTRY_COMPARE_WITH_TIMEOUT(bad.state(), QLocalSocket::UnconnectedState, deadlineMs);
    QVERIFY(bad.readAll().isEmpty());

    // The primary still serves the next client.
    QLocalSocket good;
    good.connectToServer(instance.socketPath());
    QVERIFY(good.waitForConnected(deadlineMs));
    good.write(frameOf({"", "中"}));
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), 1, deadlineMs);
    QCOMPARE(received.first().first().toStringList(),
             (QStringList{QString(), QStringLiteral("中")}));
    QTRY_VERIFY_WITH_TIMEOUT(good.bytesAvailable() > 0, deadlineMs);
    QCOMPARE(good.readAll(), QByteArray("\x06"));
}

void TestSingleInstance::oversizedListIsNotSent() {
    QTemporaryDir runtime;
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    SingleInstance primary(key);
    SingleInstance secondary(key);
    const auto primaryRole = primary.acquire();
    const auto secondaryRole = secondary.acquire();
    qputenv("XDG_RUNTIME_DIR", savedRuntime);
    QCOMPARE(primaryRole, SingleInstance::Role::primary);
    QCOMPARE(secondaryRole, SingleInstance::Role::secondary);

    QSignalSpy received(&primary, &SingleInstance::argumentsReceived);
    const QStringList huge(9, QString(SingleInstance::maxFrameBytes / 8, u'a'));
    QVERIFY(!secondary.forward(huge, 1000));
    QVERIFY(!secondary.errorString().isEmpty());

    // Nothing half-sent reaches the primary: the next list is the first it sees.
    QLocalSocket next;
    next.connectToServer(primary.socketPath());
    QVERIFY(next.waitForConnected(deadlineMs));
    next.write(frameOf({"next"}));
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), 1, deadlineMs);
    QCOMPARE(received.first().first().toStringList(), QStringList{QStringLiteral("next")});
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
