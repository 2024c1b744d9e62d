// Where the service root is, and whether the pairing file says "paired".
#include "service/ServiceManager.h"
#include "support/TestServiceRoot.h"

#include <QDir>
#include <QTest>
#include <pwd.h>
#include <unistd.h>

class TestRootAndPairing : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void root_data();
    void root();
    void pairing_data();
    void pairing();
};

void TestRootAndPairing::root_data() {
    QTest::addColumn<QByteArray>("env"); // "-" leaves the variable unset
    QTest::addColumn<QByteArray>("expected");
    const QByteArray home = "/home/someone",
                     def = home + "/Library/Application Support/Korvan/Korvan-VPS-Hub";
    const passwd* root = ::getpwuid(0);
    QTest::newRow("unset") << QByteArray("-") << def;
    QTest::newRow("blanks only") << QByteArray(" \n\t\xe3\x80\x80") << def;
    QTest::newRow("trailing slash") << QByteArray("/opt/svc/") << QByteArray("/opt/svc");
    QTest::newRow("tilde, blanks") << QByteArray("\xc2\x85~/svc \n") << home + "/svc";
    QTest::newRow("~user") << QByteArray("~") + root->pw_name + "/svc"
                           << root->pw_dir + QByteArray("/svc");
    QTest::newRow("unknown user, relative")
        << QByteArray("~nobody-here/x")
        << QFile::encodeName(QDir::currentPath()) + "/~nobody-here/x";
    QTest::newRow("not UTF-8, blanks")
        << QByteArray("\xe3\x80\x80/o\xff\xe3\x80 ") << QByteArray("/o\xff\xe3\x80");
}

void TestRootAndPairing::root() {
    QFETCH(QByteArray, env);
    QFETCH(QByteArray, expected);
    TestServiceRoot restores;
    env == "-" ? qunsetenv("KORVAN_APP_SUPPORT_DIR") : qputenv("KORVAN_APP_SUPPORT_DIR", env);
    const ServiceManager manager("/home/someone");
    QCOMPARE(manager.serviceRootPath(), expected);
    const QUrl url = manager.serviceRootURL();
    QCOMPARE(QByteArray::fromPercentEncoding(url.toEncoded()), "file://" + expected + '/');
}

// Directories, FIFOs and devices may not hang, exhaust memory or be judged by a prefix.
void TestRootAndPairing::pairing_data() {
    QTest::addColumn<QByteArray>("root"); // its folder's name
    QTest::addColumn<QByteArray>("env");  // or "dir", "fifo", "zero", or a size to pad to
    QTest::addColumn<bool>("paired");
    const QByteArray host = "KORVAN_AGENT_HOST_ID=h\n", r = "root";
    QTest::newRow("both, reverse order, other lines")
        << r << QByteArray("# c\nKORVAN_AGENT_TOKEN=t\nX=1\nKORVAN_AGENT_HOST_ID=h") << true;
    QTest::newRow("root not UTF-8") << QByteArray("r\xff") << host + "KORVAN_AGENT_TOKEN=t" << true;
    QTest::newRow("only host id") << r << host << false;
    QTest::newRow("blank token") << r << host + "KORVAN_AGENT_TOKEN=  \t" << false;
    QTest::newRow("two quotes count") << r << host + "KORVAN_AGENT_TOKEN=\"\"" << true;
    QTest::newRow("crlf file is one line")
        << r << QByteArray("KORVAN_AGENT_HOST_ID=h\r\nKORVAN_AGENT_TOKEN=t\r\n") << false;
    QTest::newRow("later blank does not undo")
        << r << host + "KORVAN_AGENT_TOKEN=t\nKORVAN_AGENT_TOKEN=" << true;
    QTest::newRow("invalid utf-8")
        << r << QByteArray("KORVAN_AGENT_HOST_ID=h\xff\nKORVAN_AGENT_TOKEN=t") << false;
    QTest::newRow("directory") << r << QByteArray("dir") << false;
    QTest::newRow("FIFO nobody writes") << r << QByteArray("fifo") << false;
    QTest::newRow("link to /dev/zero") << r << QByteArray("zero") << false;
    QTest::newRow("exactly 1 MiB") << r << QByteArray("1048576") << true;
    QTest::newRow("1 MiB and a byte") << r << QByteArray("1048577") << false;
}

void TestRootAndPairing::pairing() {
    QFETCH(QByteArray, env);
    QFETCH(QByteArray, root);
    TestServiceRoot at(root);
    const ServiceManager manager;
    QVERIFY(!manager.hasPairing()); // no file yet
    const QByteArray file = at.path() + "/.env";
    if (env == "dir" || env == "fifo" || env == "zero")
        QCOMPARE(env == "dir"    ? ::mkdir(file.constData(), 0700)
                 : env == "fifo" ? ::mkfifo(file.constData(), 0600)
                                 : ::symlink("/dev/zero", file.constData()),
                 0);
    else
        at.writeFile(file, env.toInt()
                               ? QByteArray("KORVAN_AGENT_HOST_ID=h\nKORVAN_AGENT_TOKEN=t\n")
                                     .leftJustified(env.toInt(), '\n')
                               : env);
    QTEST(manager.hasPairing(), "paired");
}

QTEST_GUILESS_MAIN(TestRootAndPairing)
#include "tst_serviceroot.moc"
