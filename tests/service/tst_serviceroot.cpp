// Where the service root is, and whether the pairing file says "paired".
#include "service/ServiceManager.h"
#include "support/TestServiceRoot.h"

#include <QDir>
#include <QTest>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

class TestRootAndPairing : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void root_data();
    void root();
    void rootIsReadAtEachCall();
    void pairing_data();
    void pairing();
    void pairingFileThatIsNotAFile_data();
    void pairingFileThatIsNotAFile();
};

static const QString kHome = QStringLiteral("/home/someone");

void TestRootAndPairing::root_data() {
    QTest::addColumn<QByteArray>("env");
    QTest::addColumn<bool>("set");
    QTest::addColumn<QString>("expected");
    const QString def =
        kHome + QStringLiteral("/Library/Application Support/Korvan/Korvan-VPS-Hub");
    QTest::newRow("unset") << QByteArray() << false << def;
    QTest::newRow("empty") << QByteArray() << true << def;
    QTest::newRow("blanks and line break") << QByteArray("  \n\t ") << true << def;
    QTest::newRow("ideographic space only") << QByteArray("\xe3\x80\x80") << true << def;
    QTest::newRow("absolute") << QByteArray("/opt/svc") << true << QStringLiteral("/opt/svc");
    QTest::newRow("trailing slash")
        << QByteArray("/opt/svc/") << true << QStringLiteral("/opt/svc");
    QTest::newRow("tilde with spaces")
        << QByteArray("  ~/svc \n") << true << kHome + QStringLiteral("/svc");
    QTest::newRow("bare tilde") << QByteArray("~") << true << kHome;
    QTest::newRow("unknown user stays")
        << QByteArray("/x/~nobody-here") << true << QStringLiteral("/x/~nobody-here");
    QTest::newRow("relative") << QByteArray("rel/svc") << true
                              << QDir::current().absoluteFilePath(QStringLiteral("rel/svc"));
}

void TestRootAndPairing::root() {
    QFETCH(QByteArray, env);
    QFETCH(bool, set);
    QFETCH(QString, expected);
    set ? qputenv("KORVAN_APP_SUPPORT_DIR", env) : qunsetenv("KORVAN_APP_SUPPORT_DIR");
    ServiceManager manager(kHome);
    QCOMPARE(manager.serviceRootPath(), expected);
    const QUrl url = manager.serviceRootURL();
    QVERIFY(url.isLocalFile());
    QVERIFY(url.path().endsWith(u'/')); // marked as a directory
    QCOMPARE(manager.controlScriptPath(),
             expected + QStringLiteral("/scripts/korvan-service-control.sh"));
    QCOMPARE(manager.pairingFilePath(), expected + QStringLiteral("/.env"));
    qunsetenv("KORVAN_APP_SUPPORT_DIR");
}

void TestRootAndPairing::rootIsReadAtEachCall() {
    ServiceManager manager(kHome);
    qputenv("KORVAN_APP_SUPPORT_DIR", "/a");
    QCOMPARE(manager.serviceRootPath(), QStringLiteral("/a"));
    qputenv("KORVAN_APP_SUPPORT_DIR", "/b");
    QCOMPARE(manager.serviceRootPath(), QStringLiteral("/b"));

    // "~user" takes that user's home from the password database.
    const passwd* root = ::getpwuid(0);
    QVERIFY(root);
    qputenv("KORVAN_APP_SUPPORT_DIR", QByteArray("~") + root->pw_name + "/svc");
    QCOMPARE(manager.serviceRootPath(),
             QString::fromLocal8Bit(root->pw_dir) + QStringLiteral("/svc"));
    qunsetenv("KORVAN_APP_SUPPORT_DIR");
}

void TestRootAndPairing::pairing_data() {
    QTest::addColumn<QByteArray>("env");
    QTest::addColumn<bool>("paired");
    QTest::newRow("both") << QByteArray("KORVAN_AGENT_HOST_ID=h1\nKORVAN_AGENT_TOKEN=t1\n") << true;
    QTest::newRow("both, reverse order, other lines")
        << QByteArray("# c\nKORVAN_AGENT_TOKEN=t\nX=1\nKORVAN_AGENT_HOST_ID=h") << true;
    QTest::newRow("only host id") << QByteArray("KORVAN_AGENT_HOST_ID=h1\n") << false;
    QTest::newRow("only token") << QByteArray("KORVAN_AGENT_TOKEN=t1\n") << false;
    QTest::newRow("blank token") << QByteArray("KORVAN_AGENT_HOST_ID=h\nKORVAN_AGENT_TOKEN=  \t")
                                 << false;
    QTest::newRow("empty token") << QByteArray("KORVAN_AGENT_HOST_ID=h\nKORVAN_AGENT_TOKEN=")
                                 << false;
    QTest::newRow("ideographic-space token")
        << QByteArray("KORVAN_AGENT_HOST_ID=h\nKORVAN_AGENT_TOKEN=\xe3\x80\x80") << false;
    QTest::newRow("two quotes count")
        << QByteArray("KORVAN_AGENT_HOST_ID=h\nKORVAN_AGENT_TOKEN=\"\"") << true;
    QTest::newRow("space before equals")
        << QByteArray("KORVAN_AGENT_HOST_ID=h\nKORVAN_AGENT_TOKEN =t") << false;
    QTest::newRow("export prefix")
        << QByteArray("KORVAN_AGENT_HOST_ID=h\nexport KORVAN_AGENT_TOKEN=t") << false;
    QTest::newRow("commented") << QByteArray("KORVAN_AGENT_HOST_ID=h\n#KORVAN_AGENT_TOKEN=t")
                               << false;
    QTest::newRow("lower-case key")
        << QByteArray("KORVAN_AGENT_HOST_ID=h\nkorvan_agent_token=t") << false;
    QTest::newRow("value with equals")
        << QByteArray("KORVAN_AGENT_HOST_ID=a=b\nKORVAN_AGENT_TOKEN==") << true;
    QTest::newRow("crlf file is one line")
        << QByteArray("KORVAN_AGENT_HOST_ID=h\r\nKORVAN_AGENT_TOKEN=t\r\n") << false;
    QTest::newRow("later blank does not undo")
        << QByteArray("KORVAN_AGENT_HOST_ID=h\nKORVAN_AGENT_TOKEN=t\nKORVAN_AGENT_TOKEN=") << true;
    QTest::newRow("invalid utf-8")
        << QByteArray("KORVAN_AGENT_HOST_ID=h\xff\nKORVAN_AGENT_TOKEN=t") << false;
    QTest::newRow("empty file") << QByteArray() << false;
}

void TestRootAndPairing::pairing() {
    QFETCH(QByteArray, env);
    TestServiceRoot root;
    ServiceManager manager;
    QVERIFY(!manager.hasPairing()); // no file yet
    root.writeFile(root.path() + QStringLiteral("/.env"), env);
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
