// Start-at-login by the XDG autostart rules, on a temporary config home and
// config directories: the user's entry, a system-wide one, and switching.
#include "platform/XdgAutostartLoginItem.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

class XdgAutostartLoginItemTest : public QObject {
    Q_OBJECT
public:
    enum Entry { none, ours, hides, withoutTryExecOrIcon }; // the user's entry, as it reads
    Q_ENUM(Entry)

private:
    std::unique_ptr<QTemporaryDir> home_;

    QString path(const QString& dir) const {
        return home_->path() + u'/' + dir + u"/autostart/korvan-controller.desktop"_s;
    }
    void writeFile(const QString& path, const QByteArray& contents) const {
        QDir().mkpath(QFileInfo(path).path());
        if (contents == "<fifo>") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
            return;
        }
        QFile file(contents == "<big>" ? target() : path); // <big>: a link to a sparse 64 MiB file
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (contents != "<big>") {
            QCOMPARE(file.write(contents), contents.size());
            return;
        }
        QVERIFY(file.resize(64 << 20));
        QVERIFY(QFile::link(target(), path));
    }
    QString target() const { return home_->path() + u"/target"_s; }
    // What the user's entry is after a switch.
    Entry userEntry(const QString& program) const {
        QFile entry(XdgAutostartLoginItem::entryPath());
        if (!entry.open(QIODevice::ReadOnly))
            return none;
        const QByteArray text = entry.readAll();
        // Ours names the program in TryExec too, so a desktop skips it once it is gone.
        const QByteArray keys =
            "\nTryExec=" + program.toUtf8().replace("\\", "\\\\").replace("\n", "\\n") +
            "\nIcon=korvan-controller\n";
        return !text.contains(keys)               ? withoutTryExecOrIcon
               : text.contains("\nHidden=true\n") ? hides
                                                  : ours;
    }

private Q_SLOTS:
    void init() {
        home_ = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_->path() + u"/config"_s));
        qputenv("XDG_CONFIG_DIRS",
                QFile::encodeName(u"%1/none:%1/sys:%1/later"_s.arg(home_->path())));
    }

    // The user's entry and a system-wide one (null: none there; a later
    // directory then always holds an enabled one, which must never count);
    // the status, then the user's entry after switching, and after switching back.
    void statusAndSwitching_data() {
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<QByteArray>("system");
        QTest::addColumn<LoginItemStatus>("status");
        QTest::addColumn<Entry>("switched");
        QTest::addColumn<Entry>("switchedBack");
        const auto row = [](const char* name, const QByteArray& user, const QByteArray& system,
                            LoginItemStatus status, Entry switched, Entry switchedBack) {
            QTest::newRow(name) << user << system << status << switched << switchedBack;
        };
        const auto on = LoginItemStatus::enabled, off = LoginItemStatus::notRegistered;
        const QByteArray sh = "[Desktop Entry]\nExec=sh -c true\n", absent;
        const QByteArray hidden = sh + "Hidden=true\n";
        row("none", absent, absent, off, ours, none);
        row("program on PATH", sh, absent, on, none, ours);
        row("BOM, CRLF, comments, other groups",
            "\xEF\xBB\xBF# x\r\n\r\n[Desktop Entry]\r\nExec=\"/bin/sh\"\r\n"
            "[Desktop Action x]\nExec=/nonexistent\n",
            absent, on, none, ours);
        row("hidden", hidden, absent, off, ours, none);
        row("off in GNOME", sh + "X-GNOME-Autostart-enabled=false\n", absent, off, ours, none);
        row("program gone", "[Desktop Entry]\nExec=korvan-nope\n", absent,
            LoginItemStatus::notFound, ours, none);
        row("absolute path gone", "[Desktop Entry]\nExec=/nonexistent/korvan\n", absent,
            LoginItemStatus::notFound, ours, none);
        row("closing quote escaped", "[Desktop Entry]\nExec=\"/bin/sh\\\\\"\n", absent, off, ours,
            none);
        row("not UTF-8", sh + "Name=\xff\n", absent, off, ours, none);
        row("a FIFO", "<fifo>", absent, off, ours, none);
        row("link to a big file", "<big>", absent, off, ours, none);
        row("system only", absent, sh, on, hides, none);
        row("system off, first wins", absent, hidden, off, ours, hides);
        row("user hides system", hidden, sh, off, none, hides);
        row("user broken, system on", "x" + sh, sh, off, ours, hides);
        row("user on, system off", sh, hidden, on, hides, ours);
    }
    void statusAndSwitching() {
        QFETCH(QByteArray, user);
        QFETCH(QByteArray, system);
        if (!user.isNull())
            writeFile(path(u"config"_s), user);
        if (!system.isNull()) {
            writeFile(path(u"sys"_s), system);
            writeFile(path(u"later"_s), "[Desktop Entry]\nExec=sh\n");
        }
        QCOMPARE(XdgAutostartLoginItem::activeEntryPath(),
                 path(user.isNull() && !system.isNull() ? u"sys"_s : u"config"_s));
        // A name that needs every kind of quoting, and must come back intact.
        const QString program = home_->path() + u"/ a$b`c\\d%f \"q\" 100%\n控制器"_s;
        QFile file(program);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.setPermissions(QFile::ExeOwner));
        XdgAutostartLoginItem item(program, u"Korvan Controller"_s);
        QTEST(item.status(), "status");
        const bool wasOn = item.status() == LoginItemStatus::enabled;
        QCOMPARE(wasOn ? item.unregisterItem() : item.registerItem(), std::nullopt);
        QCOMPARE(item.status() == LoginItemStatus::enabled, !wasOn);
        QTEST(userEntry(program), "switched");
        QCOMPARE(wasOn ? item.registerItem() : item.unregisterItem(), std::nullopt);
        QCOMPARE(item.status() == LoginItemStatus::enabled, wasOn);
        QTEST(userEntry(program), "switchedBack");
        QCOMPARE(QFileInfo(target()).size(), user == "<big>" ? 64 << 20 : 0); // written past
    }

    void failuresGiveTheSystemText() {
        XdgAutostartLoginItem item(u"/bin/sh"_s, u"Korvan Controller"_s);
        writeFile(home_->path() + u"/config/autostart"_s, {}); // a file where the folder goes
        QCOMPARE(item.registerItem(), std::optional<QString>(qt_error_string(ENOTDIR)));
        QCOMPARE(item.unregisterItem(), std::optional<QString>(qt_error_string(ENOTDIR)));
    }
};

QTEST_GUILESS_MAIN(XdgAutostartLoginItemTest)
#include "tst_XdgAutostartLoginItem.moc"
