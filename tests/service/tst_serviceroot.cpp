// Where the service root is, and whether the pairing file says "paired".
#include "service/ServiceManager.h"
#include "support/TestServiceRoot.h"

#include <QTest>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

class TestRootAndPairing : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void root_data();
    void root();
    void pairing_data();
    void pairing();
    void pairingFileThatIsNotAFile_data();
    void pairingFileThatIsNotAFile();
};

static const QString kHome = QStringLiteral("/home/someone");

void TestRootAndPairing::root_data() {
    QTest::addColumn<QByteArray>("env"); // "-" leaves the variable unset
    QTest::addColumn<QString>("expected");
    const QString def =
        kHome + QStringLiteral("/Library/Application Support/Korvan/Korvan-VPS-Hub");
    const passwd* root = ::getpwuid(0);
    QTest::newRow("unset") << QByteArray("-") << def;
    QTest::newRow("blanks only") << QByteArray(" \n\t\xe3\x80\x80") << def;
    QTest::newRow("trailing slash") << QByteArray("/opt/svc/") << QStringLiteral("/opt/svc");
    QTest::newRow("tilde, blanks") << QByteArray(" ~/svc \n") << kHome + QStringLiteral("/svc");
    QTest::newRow("~user") << QByteArray("~") + root->pw_name + "/svc"
                           << QString::fromLocal8Bit(root->pw_dir) + QStringLiteral("/svc");
    QTest::newRow("unknown user, relative")
        << QByteArray("~nobody-here/x")
        << QDir::current().absoluteFilePath(QStringLiteral("~nobody-here/x"));
}

void TestRootAndPairing::root() {
    QFETCH(QByteArray, env);
    QFETCH(QString, expected);
    TestServiceRoot restores;
    env == "-" ? qunsetenv("KORVAN_APP_SUPPORT_DIR") : qputenv("KORVAN_APP_SUPPORT_DIR", env);
    const ServiceManager manager(kHome);
    QCOMPARE(manager.serviceRootPath(), expected);
    QCOMPARE(manager.serviceRootURL(), QUrl::fromLocalFile(expected + u'/'));
}

void TestRootAndPairing::pairing_data() {
    QTest::addColumn<QByteArray>("env");
    QTest::addColumn<bool>("paired");
    const QByteArray host = "KORVAN_AGENT_HOST_ID=h\n";
    QTest::newRow("both, reverse order, other lines")
        << QByteArray("# c\nKORVAN_AGENT_TOKEN=t\nX=1\nKORVAN_AGENT_HOST_ID=h") << true;
    QTest::newRow("only host id") << host << false;
    QTest::newRow("blank token") << host + "KORVAN_AGENT_TOKEN=  \t" << false;
    QTest::newRow("two quotes count") << host + "KORVAN_AGENT_TOKEN=\"\"" << true;
    QTest::newRow("crlf file is one line")
        << QByteArray("KORVAN_AGENT_HOST_ID=h\r\nKORVAN_AGENT_TOKEN=t\r\n") << false;
    QTest::newRow("later blank does not undo")
        << host + "KORVAN_AGENT_TOKEN=t\nKORVAN_AGENT_TOKEN=" << true;
    QTest::newRow("invalid utf-8")
        << QByteArray("KORVAN_AGENT_HOST_ID=h\xff\nKORVAN_AGENT_TOKEN=t") << false;
    QTest::newRow("a folder") << QByteArray() << false;
}

void TestRootAndPairing::pairing() {
    QFETCH(QByteArray, env);
    TestServiceRoot root;
    const ServiceManager manager;
    QVERIFY(!manager.hasPairing()); // no file yet
    const QString file = root.path() + QStringLiteral("/.env");
    env.isEmpty() ? void(QDir().mkdir(file)) : root.writeFile(file, env);
    QTEST(manager.hasPairing(), "paired");
}

// None of these may hang, exhaust memory or be judged by a prefix.
void TestRootAndPairing::pairingFileThatIsNotAFile_data() {
    QTest::addColumn<QString>("kind"); // or the size of a paired file, padded with line feeds
    QTest::addColumn<bool>("paired");
    QTest::newRow("directory") << "directory" << false;
    QTest::newRow("FIFO nobody writes") << "fifo" << false;
    QTest::newRow("link to /dev/zero") << "zero" << false;
    QTest::newRow("exactly 1 MiB") << "1048576" << true;
    QTest::newRow("1 MiB and a byte") << "1048577" << false;
}

void TestRootAndPairing::pairingFileThatIsNotAFile() {
    QFETCH(QString, kind);
    TestServiceRoot root;
    const QByteArray env = QFile::encodeName(root.path() + QStringLiteral("/.env"));
    if (kind == u"directory")
        QCOMPARE(::mkdir(env.constData(), 0700), 0);
    else if (kind == u"fifo")
        QCOMPARE(::mkfifo(env.constData(), 0600), 0);
    else if (kind == u"zero")
        QCOMPARE(::symlink("/dev/zero", env.constData()), 0);
    else
        root.writeFile(QFile::decodeName(env),
                       QByteArray("KORVAN_AGENT_HOST_ID=h\nKORVAN_AGENT_TOKEN=t\n")
                           .leftJustified(kind.toInt(), '\n'));
    QTEST(ServiceManager().hasPairing(), "paired");
}

QTEST_GUILESS_MAIN(TestRootAndPairing)
#include "tst_serviceroot.moc"
