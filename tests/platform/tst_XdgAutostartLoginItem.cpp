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

    QString programPath(const QString& name) const {
        const QString path = home_->path() + u'/' + name;
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write("#!/bin/sh\n");
        file.close();
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

    void writeEntry(const QByteArray& contents) const {
        QDir().mkpath(home_->path() + u"/config/autostart"_s);
        QFile file(XdgAutostartLoginItem::entryPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents);
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
        const QByteArray sh = "[Desktop Entry]\nType=Application\nExec=sh -c true\n";
        QTest::newRow("program on PATH") << sh << LoginItemStatus::enabled;
        QTest::newRow("comments and other groups")
            << QByteArray(
                   "# made by hand\n\n[Desktop Entry]\nExec=\"/bin/sh\"\n[Desktop Action x]\n"
                   "Exec=/nonexistent\n")
            << LoginItemStatus::enabled;
        QTest::newRow("hidden") << sh + "Hidden=true\n" << LoginItemStatus::notRegistered;
        QTest::newRow("switched off in GNOME") << sh + "X-GNOME-Autostart-enabled=false\n"
                                               << LoginItemStatus::notRegistered;
        QTest::newRow("switched on in GNOME") << sh + "X-GNOME-Autostart-enabled=true\n"
                                              << LoginItemStatus::enabled;
        QTest::newRow("program gone")
            << QByteArray("[Desktop Entry]\nExec=\"/nonexistent/korvan-controller\"\n")
            << LoginItemStatus::notFound;
        QTest::newRow("unknown program name")
            << QByteArray("[Desktop Entry]\nExec=korvan-no-such-program\n")
            << LoginItemStatus::notFound;
        QTest::newRow("group missing")
            << QByteArray("Exec=/bin/sh\n") << LoginItemStatus::notRegistered;
        QTest::newRow("other group first") << QByteArray("[Other]\n[Desktop Entry]\nExec=/bin/sh\n")
                                           << LoginItemStatus::notRegistered;
        QTest::newRow("garbage line") << QByteArray("[Desktop Entry]\nExec=/bin/sh\nnot a pair\n")
                                      << LoginItemStatus::notRegistered;
        QTest::newRow("unterminated quote")
            << QByteArray("[Desktop Entry]\nExec=\"/bin/sh\n") << LoginItemStatus::notRegistered;
        QTest::newRow("no Exec") << QByteArray("[Desktop Entry]\nType=Application\n")
                                 << LoginItemStatus::notRegistered;
        QTest::newRow("not UTF-8") << QByteArray("[Desktop Entry]\nName=\xff\nExec=/bin/sh\n")
                                   << LoginItemStatus::notRegistered;
    }

    void status() {
        QFETCH(QByteArray, entry);
        QFETCH(LoginItemStatus, expected);
        XdgAutostartLoginItem item(programPath(u"unused"_s), u"Korvan Controller"_s);
        QCOMPARE(item.status(), LoginItemStatus::notRegistered);
        writeEntry(entry);
        QCOMPARE(item.status(), expected);
    }

    void registerRoundTrips_data() {
        QTest::addColumn<QString>("programName");
        QTest::newRow("plain") << u"korvan-controller"_s;
        QTest::newRow("spaces and quotes") << u"my \"korvan\" app"_s;
        QTest::newRow("shell and field characters") << u"a$b`c\\d%f 100%"_s;
        QTest::newRow("leading space and CJK") << u" 控制器"_s;
    }

    void registerRoundTrips() {
        QFETCH(QString, programName);
        const QString program = programPath(programName);
        XdgAutostartLoginItem item(program, u"Korvan Controller"_s);
        QCOMPARE(item.registerItem(), std::nullopt);
        QCOMPARE(item.status(), LoginItemStatus::enabled);

        QFile file(XdgAutostartLoginItem::entryPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY(text.startsWith(u"[Desktop Entry]\n"_s));
        QVERIFY(text.contains(u"\nX-GNOME-Autostart-enabled=true\n"_s));
        QVERIFY(text.contains(u"\nExec=\""_s));

        // The entry must name exactly this program: removing it makes it "not found".
        QVERIFY(QFile::remove(program));
        QCOMPARE(item.status(), LoginItemStatus::notFound);
        QVERIFY(QDir(home_->path() + u"/config/autostart"_s).entryList(QDir::Files).size() == 1);
    }

    void registerRepairsMovedProgram() {
        writeEntry("[Desktop Entry]\nExec=\"/nonexistent/old/korvan-controller\"\n");
        XdgAutostartLoginItem item(programPath(u"korvan-controller"_s), u"Korvan Controller"_s);
        QCOMPARE(item.status(), LoginItemStatus::notFound);
        QCOMPARE(item.registerItem(), std::nullopt);
        QCOMPARE(item.status(), LoginItemStatus::enabled);
    }

    void unregisterRemovesEntry() {
        XdgAutostartLoginItem item(programPath(u"korvan-controller"_s), u"Korvan Controller"_s);
        QCOMPARE(item.unregisterItem(), std::nullopt); // nothing there is no failure
        QCOMPARE(item.registerItem(), std::nullopt);
        QCOMPARE(item.unregisterItem(), std::nullopt);
        QVERIFY(!QFile::exists(XdgAutostartLoginItem::entryPath()));
        QCOMPARE(item.status(), LoginItemStatus::notRegistered);
    }

    void failuresGiveSystemText() {
        XdgAutostartLoginItem item(programPath(u"korvan-controller"_s), u"Korvan Controller"_s);
        QDir().mkpath(home_->path() + u"/config"_s);
        QFile blocker(home_->path() + u"/config/autostart"_s);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QCOMPARE(item.registerItem(), std::optional<QString>(qt_error_string(ENOTDIR)));
        QCOMPARE(item.unregisterItem(), std::optional<QString>(qt_error_string(ENOTDIR)));
        QCOMPARE(item.status(), LoginItemStatus::notRegistered);
    }
};

QTEST_GUILESS_MAIN(XdgAutostartLoginItemTest)
#include "tst_XdgAutostartLoginItem.moc"
