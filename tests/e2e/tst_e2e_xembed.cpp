// The controller in an XEmbed system tray (trayer) on a desktop without a
// session bus: the icon is embedded, shows the state's colour, and a right
// click opens the menu, which is photographed for the README.

#include "DesktopHarness.h"

#include <QDir>
#include <QTest>
#include <tuple>

using namespace e2e;

namespace {

enum class Setup { unpaired, linked, stopped, crashed };

} // namespace

Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(e2e::Tint)

class TestE2eXembed : public QObject {
    Q_OBJECT

    XServer x_;
    UserSession trayUser_;
    std::unique_ptr<QProcess> tray_;

    QProcessEnvironment env(const UserSession& user) const {
        return user.environment(x_.display(), QString());
    }

    // Our windows on screen right now that satisfy `accept`.
    template <typename Accept>
    QList<WindowInfo> windowsWhere(qint64 pid, const QProcessEnvironment& env, Accept accept) {
        QList<WindowInfo> found;
        for (const quint32 id : windowsOfProcess(pid, env)) {
            const auto info = windowInfo(id, env);
            if (info && accept(*info))
                found << *info;
        }
        return found;
    }

private Q_SLOTS:
    void initTestCase() {
        const QStringList missing = missingTools(
            {QStringLiteral("Xvfb"), QStringLiteral("trayer"), QStringLiteral("xdotool"),
             QStringLiteral("xwininfo"), QStringLiteral("import")});
        if (!missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("missing: ") + missing.join(u' ') +
                             QStringLiteral(" (scripts/bootstrap installs them)")));
        QString error;
        QVERIFY2(x_.start(&error), qPrintable(error));
        // A light panel across the top, as a desktop bar would be.
        tray_ = startChild(
            QStringLiteral("trayer"),
            {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
             QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("percent"),
             QStringLiteral("--width"), QStringLiteral("100"), QStringLiteral("--height"),
             QStringLiteral("28"), QStringLiteral("--transparent"), QStringLiteral("true"),
             QStringLiteral("--alpha"), QStringLiteral("0"), QStringLiteral("--tint"),
             QStringLiteral("0xf2f2f2"), QStringLiteral("--SetDockType"), QStringLiteral("true")},
            env(trayUser_), &error);
        QVERIFY2(tray_, qPrintable(error));
        // The panel maps once it owns the tray selection.
        const QProcessEnvironment trayEnv = env(trayUser_);
        const qint64 trayPid = tray_->processId();
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         return !windowsWhere(trayPid, trayEnv, [](const WindowInfo& w) {
                                     return w.viewable && w.geometry.height() >= 20;
                                 }).isEmpty();
                     },
                     15000),
                 "trayer never showed its panel");
    }

    void cleanupTestCase() { endChild(tray_.get()); }

    void menuOpensFromTheEmbeddedIcon_data() {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<Tint>("tint");
        QTest::addColumn<QString>("shot");
        QTest::newRow("unpaired") << Setup::unpaired << Tint::grey
                                  << QStringLiteral("menu-unpaired");
        QTest::newRow("linked") << Setup::linked << Tint::green << QStringLiteral("menu-linked");
        QTest::newRow("stopped") << Setup::stopped << Tint::grey << QStringLiteral("menu-stopped");
        QTest::newRow("failed") << Setup::crashed << Tint::red << QStringLiteral("menu-failed");
    }

    void menuOpensFromTheEmbeddedIcon() {
        QFETCH(Setup, setup);
        QFETCH(Tint, tint);
        QFETCH(QString, shot);

        UserSession user;
        DemoRoot root;
        if (setup != Setup::unpaired)
            root.writePairing();
        if (setup == Setup::stopped)
            root.setDesired("disabled");
        const QProcessEnvironment userEnv = env(user);
        Controller controller;
        QString error;
        QVERIFY2(controller.start(root.environment(userEnv), {}, &error), qPrintable(error));
        const qint64 pid = controller.pid();

        // Embedded: one of our windows now lives inside the tray's panel.
        QList<WindowInfo> icons;
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         icons = windowsWhere(pid, userEnv, [](const WindowInfo& w) {
                             return w.viewable && w.parent != w.root && w.geometry.width() <= 64;
                         });
                         return !icons.isEmpty();
                     },
                     20000),
                 qPrintable(QStringLiteral("no icon embedded; controller said: ") +
                            controller.output()));
        const QRect icon = icons.constFirst().geometry;

        if (setup == Setup::crashed) {
            QTRY_COMPARE_WITH_TIMEOUT(root.runningServices().size(), 2, 20000);
            // Without a menu to open, the five-second refresh notices.
            QTRY_COMPARE_WITH_TIMEOUT(tintName(dominantTint(grabScreen(userEnv), icon)),
                                      tintName(Tint::green), 20000);
            root.killServices();
        }
        QTRY_COMPARE_WITH_TIMEOUT(tintName(dominantTint(grabScreen(userEnv), icon)), tintName(tint),
                                  20000);
        if (setup == Setup::linked)
            QCOMPARE(root.runningServices().size(), 2);

        // A right click on the icon opens the menu: a new override-redirect
        // window of ours.
        const auto isMenu = [](const WindowInfo& w) {
            return w.viewable && w.overrideRedirect && w.geometry.height() > 200;
        };
        QVERIFY(windowsWhere(pid, userEnv, isMenu).isEmpty());
        // Clicked near its lower edge, so the menu, which opens at the pointer,
        // leaves the icon in the picture.
        QVERIFY(runTool(QStringLiteral("xdotool"),
                        {QStringLiteral("mousemove"), QString::number(icon.center().x()),
                         QString::number(icon.bottom() - 1), QStringLiteral("click"),
                         QStringLiteral("3")},
                        userEnv));
        QList<WindowInfo> menus;
        QVERIFY2(
            QTest::qWaitFor([&] { return !(menus = windowsWhere(pid, userEnv, isMenu)).isEmpty(); },
                            10000),
            "no menu window appeared after the right click");
        const QRect menu = menus.constFirst().geometry;

        const QImage screen = grabScreen(userEnv);
        QVERIFY(!screen.isNull());
        // The menu is drawn, not an empty window: a menu of fifteen rows has
        // plenty of text on its background.
        QVERIFY2(inkPixels(screen.copy(menu)) > 1500, "the menu window is blank");
        const QString dir = screenshotDir();
        QVERIFY(screen.save(dir + u'/' + shot + QStringLiteral("-screen.png")));
        // The panel's right end with the icon and the open menu below it.
        const QRect crop = menu.united(icon).adjusted(-24, 0, 0, 12).intersected(screen.rect());
        QVERIFY(screen.copy(QRect(crop.left(), 0, crop.width(), crop.bottom() + 1))
                    .save(dir + u'/' + shot + QStringLiteral(".png")));
    }
};

QTEST_GUILESS_MAIN(TestE2eXembed)
#include "tst_e2e_xembed.moc"
