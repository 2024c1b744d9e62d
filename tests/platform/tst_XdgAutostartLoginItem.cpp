// The XDG autostart entry behind start-at-login, on a temporary config home.
#include "platform/XdgAutostartLoginItem.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class XdgAutostartLoginItemTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> home_;

    QString program(const QString& name) const {
        QFile file(home_->path() + u'/' + name);
        if (file.open(QIODevice::WriteOnly))
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return file.fileName();
    }
    void writeFile(const QString& path, const QByteArray& contents) const {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
    }

private Q_SLOTS:
    void init() {
        home_ = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_->path() + u"/config"_s));
    }

    void entryPathFollowsConfigHome() {
        QCOMPARE(XdgAutostartLoginItem::entryPath(),
                 home_->path() + u"/config/autostart/korvan-controller.desktop"_s);
        qputenv("XDG_CONFIG_HOME", "relative/ignored");
        QCOMPARE(XdgAutostartLoginItem::entryPath(),
                 QDir::homePath() + u"/.config/autostart/korvan-controller.desktop"_s);
    }

    void status_data() {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<LoginItemStatus>("expected");
        const QByteArray sh = "[Desktop Entry]\nExec=sh -c true\n";
        QTest::newRow("program on PATH") << sh << LoginItemStatus::enabled;
        QTest::newRow("BOM, CRLF, comments, other groups")
            << QByteArray("\xEF\xBB\xBF# x\r\n\r\n[Desktop Entry]\r\nExec=\"/bin/sh\"\r\n"
                          "[Desktop Action x]\nExec=/nonexistent\n")
            << LoginItemStatus::enabled;
        QTest::newRow("hidden") << sh + "Hidden=true\n" << LoginItemStatus::notRegistered;
        QTest::newRow("off in GNOME") << sh + "X-GNOME-Autostart-enabled=false\n"
                                      << LoginItemStatus::notRegistered;
        QTest::newRow("on in GNOME") << sh + "X-GNOME-Autostart-enabled=true\n"
                                     << LoginItemStatus::enabled;
        QTest::newRow("escaped quote and space in Exec")
            << QByteArray("[Desktop Entry]\nExec=\"/bin/s\\\"h\\sx\"\n") // "/bin/s"h x"
            << LoginItemStatus::notFound;
        QTest::newRow("unknown program")
            << QByteArray("[Desktop Entry]\nExec=korvan-nope\n") << LoginItemStatus::notFound;
        QTest::newRow("other group first") << "[Other]\n" + sh << LoginItemStatus::notRegistered;
        QTest::newRow("not a pair") << sh + "not a pair\n" << LoginItemStatus::notRegistered;
        QTest::newRow("unterminated quote")
            << QByteArray("[Desktop Entry]\nExec=\"/bin/sh\n") << LoginItemStatus::notRegistered;
        QTest::newRow("no Exec") << QByteArray("[Desktop Entry]\n")
                                 << LoginItemStatus::notRegistered;
        QTest::newRow("not UTF-8") << sh + "Name=\xff\n" << LoginItemStatus::notRegistered;
    }
    void status() {
        QFETCH(QByteArray, entry);
        XdgAutostartLoginItem item(program(u"p"_s), u"Korvan Controller"_s);
        QCOMPARE(item.status(), LoginItemStatus::notRegistered);
        writeFile(XdgAutostartLoginItem::entryPath(), entry);
        QTEST(item.status(), "expected");
    }

    void registerNamesThisProgram_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << u"korvan-controller"_s;
        QTest::newRow("quotes and spaces") << u"my \"korvan\" app"_s;
        QTest::newRow("shell and field characters, CJK") << u" a$b`c\\d%f 100% 控制器"_s;
    }
    void registerNamesThisProgram() {
        QFETCH(QString, name);
        writeFile(XdgAutostartLoginItem::entryPath(), "[Desktop Entry]\nExec=/nonexistent/old\n");
        const QString path = program(name);
        XdgAutostartLoginItem item(path, u"Korvan Controller"_s);
        QCOMPARE(item.status(), LoginItemStatus::notFound); // moved: registering repairs it
        QCOMPARE(item.registerItem(), std::nullopt);
        QCOMPARE(item.status(), LoginItemStatus::enabled);
        QFile file(XdgAutostartLoginItem::entryPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.startsWith("[Desktop Entry]\n") && text.contains("\nExec=\""));
        QVERIFY(text.contains("\nX-GNOME-Autostart-enabled=true\n"));
        QVERIFY(QFile::remove(path));
        QCOMPARE(item.status(), LoginItemStatus::notFound);
        QCOMPARE(item.unregisterItem(), std::nullopt);
        QCOMPARE(item.unregisterItem(), std::nullopt); // nothing there is no failure
        QCOMPARE(item.status(), LoginItemStatus::notRegistered);
    }

    void failuresGiveTheSystemText() {
        XdgAutostartLoginItem item(program(u"p"_s), u"Korvan Controller"_s);
        writeFile(home_->path() + u"/config/autostart"_s, {}); // a file where the folder goes
        QCOMPARE(item.registerItem(), std::optional<QString>(qt_error_string(ENOTDIR)));
        QCOMPARE(item.unregisterItem(), std::optional<QString>(qt_error_string(ENOTDIR)));
    }
};

QTEST_GUILESS_MAIN(XdgAutostartLoginItemTest)
#include "tst_XdgAutostartLoginItem.moc"
