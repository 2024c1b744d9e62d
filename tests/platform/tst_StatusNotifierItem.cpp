// Our tray item on a private session bus, driven by the real delegate with
// recording services; the watcher and the notification service are the
// test's own, each on a connection of its own.
#include "app/AppDelegate.h"
#include "app/AppTexts.h"
#include "core/StatusText.h"
#include "fakes/FakePlatform.h"
#include "platform/DesktopTrayIcon.h"
#include "platform/TrayTexts.h"

#include <QAction>
#include <QImage>
#include <QMenu>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QtDBus>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

constexpr int kDeadlineMs = 5000;
const QString kWatcher = u"org.kde.StatusNotifierWatcher"_s;
const QString kItem = u"org.kde.StatusNotifierItem"_s;
const ServiceSnapshot kLinked{u"enabled"_s, u"online"_s, u"online"_s, u"online"_s, 0, 0};
const ServiceSnapshot kFailed{u"enabled"_s, u"stopped"_s, u"stopped"_s, u"offline"_s, 0, 0};

// Records registrations; refuses the first `refusals` of them.
class Watcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered MEMBER host)
public:
    bool host = true;
    int refusals = 0;
    QStringList registered;
public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service) {
        if (refusals > 0 && refusals--)
            sendErrorReply(QDBusError::Failed, u"not yet"_s);
        else
            registered << service;
    }
};

class Notifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList received; // summary, then body, of each
public Q_SLOTS:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int) {
        received << summary << body;
        return 1;
    }
};

// A fallback item that counts how many were made and how many are alive.
struct CountedTray final : TrayIcon {
    int& alive;
    explicit CountedTray(int& counter) : alive(++counter) {}
    ~CountedTray() override { --alive; }
    void setSymbol(const QString&, SymbolTint) override {}
    void setMenu(QMenu*) override {}
    void setToolTip(const QString&) override {}
    void show() override {}
};

} // namespace

class TestStatusNotifierItem : public QObject {
    Q_OBJECT

    QProcess bus_;
    Watcher watcher_;
    Notifications notifications_;
    int watcherGeneration_ = 0;
    FakeServices services_;
    FakeAlert alert_;
    FakeUrlOpener opener_;
    FakeLoginItem login_;
    SettingsPreferences prefs_; // in Qt's test-mode folder
    std::unique_ptr<DesktopTrayIcon> tray_;
    std::unique_ptr<AppDelegate> d_;
    bool xembed_ = false;
    int fallbacksMade_ = 0, fallbacksAlive_ = 0;
    QStringList errors_, statuses_, updatedLabels_;
    int updatedPictures_ = 0;

    static QDBusConnection client() { return QDBusConnection(u"client"_s); }
    QString watcherConnection() const { return u"watcher%1"_s.arg(watcherGeneration_); }
    static QString itemName() {
        return u"org.kde.StatusNotifierItem-%1-1"_s.arg(QCoreApplication::applicationPid());
    }

    void startWatcher() {
        const QDBusConnectionInterface* b = QDBusConnection::sessionBus().interface();
        QVERIFY(QTest::qWaitFor([b] { return !b->isServiceRegistered(kWatcher); }, kDeadlineMs));
        QDBusConnection c = QDBusConnection::connectToBus(
            QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")), watcherConnection());
        c.registerObject(u"/StatusNotifierWatcher"_s, &watcher_,
                         QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
        QVERIFY(c.registerService(kWatcher));
    }
    // The bus drops the old connection, and with it the name, a moment later.
    void stopWatcher() {
        QDBusConnection::disconnectFromBus(watcherConnection());
        ++watcherGeneration_;
        watcher_.registered.clear();
    }

    void launch(bool paired, const ServiceSnapshot& report = kLinked, bool reportNow = true) {
        services_.paired = paired;
        services_.report = report;
        DesktopTrayIcon::Options o;
        o.id = u"korvan-controller"_s;
        o.title = AppTexts::productName;
        o.noTrayDelay = 50ms;
        o.xembedPollInterval = 20ms;
        o.registration = {20ms, 5};
        o.hasXEmbedTray = [this] { return xembed_; };
        o.makeFallback = [this] {
            return ++fallbacksMade_, std::make_unique<CountedTray>(fallbacksAlive_);
        };
        o.writeError = [this](const QString& line) { errors_ << line; };
        tray_ = std::make_unique<DesktopTrayIcon>(QDBusConnection::sessionBus(), o);
        AppDelegate::Platform p{&alert_, &login_, &prefs_, &opener_, tray_.get()};
        p.terminate = [] {};
        d_ = std::make_unique<AppDelegate>(services_, p);
        d_->applicationDidFinishLaunching();
        if (reportNow)
            services_.completeAll();
    }
    void launchAndWaitForItem(bool paired, const ServiceSnapshot& report = kLinked) {
        launch(paired, report);
        QVERIFY(QTest::qWaitFor([&] { return !watcher_.registered.isEmpty(); }, kDeadlineMs));
    }

    // A call from the test's own connection; the item answers on this thread.
    static QDBusMessage ask(const QString& path, const QString& interface, const QString& method,
                            const QVariantList& arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(itemName(), path, interface, method);
        message.setArguments(arguments);
        QDBusPendingCall pending = client().asyncCall(message);
        std::ignore = QTest::qWaitFor([&] { return pending.isFinished(); }, kDeadlineMs);
        return pending.reply();
    }
    static QVariant property(const QString& name) {
        const QDBusMessage reply =
            ask(u"/StatusNotifierItem"_s, u"org.freedesktop.DBus.Properties"_s, u"Get"_s,
                {kItem, name});
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }
    static QDBusMessage menuCall(const QString& method, const QVariantList& arguments) {
        return ask(property(u"Menu"_s).value<QDBusObjectPath>().path(), u"com.canonical.dbusmenu"_s,
                   method, arguments);
    }
    static DBusMenuLayoutItem menuLayout() {
        return qdbus_cast<DBusMenuLayoutItem>(
            menuCall(u"GetLayout"_s, {0, -1, QStringList()}).arguments().value(1));
    }
    // The exported value as a test can compare it: a shortcut as "Control+Q",
    // a picture as its size.
    static QVariant plain(const QVariant& value) {
        if (value.metaType() == QMetaType::fromType<QByteArray>())
            return QImage::fromData(value.toByteArray(), "PNG").size();
        if (value.canConvert<QDBusArgument>()) {
            QStringList chords;
            for (const QStringList& keys : qdbus_cast<QList<QStringList>>(value))
                chords << keys.join(u'+');
            return chords.join(u',');
        }
        return value;
    }

    int rowId(const QString& label) const {
        for (const DBusMenuLayoutItem& row : menuLayout().children) {
            if (row.properties.value(u"label"_s) == label)
                return row.id;
        }
        return -1;
    }

    // A tick of the delegate's refresh timer, its report delivered.
    void tick() {
        for (QTimer* timer : d_->findChildren<QTimer*>()) {
            QTimerEvent event(timer->timerId());
            QCoreApplication::sendEvent(timer, &event);
        }
        QCoreApplication::processEvents();
        services_.completeAll();
    }

private Q_SLOTS:
    void recordStatus(const QString& status) { statuses_ << status; }
    void recordUpdate(const QDBusMessage& message) {
        for (const DBusMenuItem& row : qdbus_cast<DBusMenuItemList>(message.arguments().value(0))) {
            updatedLabels_ << row.properties.value(u"label"_s).toString();
            updatedPictures_ += row.properties.contains(u"icon-data"_s);
        }
    }

    void initTestCase() {
        registerStatusNotifierTypes();
        // Closing `cat`'s pipe takes the daemon down, also when the test dies.
        bus_.start(u"dbus-run-session"_s,
                   {u"--"_s, u"sh"_s, u"-c"_s,
                    u"echo \"$DBUS_SESSION_BUS_ADDRESS\"; exec cat >/dev/null"_s});
        QVERIFY(bus_.waitForReadyRead(kDeadlineMs));
        // Before anything uses the session bus.
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus_.readLine().trimmed());
        QVERIFY(QDBusConnection::sessionBus().isConnected());
        QDBusConnection notify = QDBusConnection::connectToBus(
            QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")), u"notify"_s);
        notify.registerObject(u"/org/freedesktop/Notifications"_s, &notifications_,
                              QDBusConnection::ExportAllSlots);
        QVERIFY(notify.registerService(u"org.freedesktop.Notifications"_s));
        QVERIFY(QDBusConnection::connectToBus(
                    QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")), u"client"_s)
                    .isConnected());
        QStandardPaths::setTestModeEnabled(true);
        // Once: a second match of the same signal would not be added.
        QVERIFY(client().connect(itemName(), u"/MenuBar"_s, u"com.canonical.dbusmenu"_s,
                                 u"ItemsPropertiesUpdated"_s, this,
                                 SLOT(recordUpdate(QDBusMessage))));
    }
    void init() {
        services_ = FakeServices();
        login_ = FakeLoginItem();
        login_.current = LoginItemStatus::enabled;
        QSettings().clear();
        prefs_.setBoolValue(u"didConfigureLoginItem"_s, true);
        watcher_.host = true;
        watcher_.refusals = 0;
        xembed_ = false;
        fallbacksMade_ = fallbacksAlive_ = 0;
        errors_.clear();
        statuses_.clear();
        updatedLabels_.clear();
        updatedPictures_ = 0;
        notifications_.received.clear();
        startWatcher();
    }
    void cleanup() {
        d_.reset();
        tray_.reset();
        stopWatcher();
    }
    void cleanupTestCase() {
        bus_.closeWriteChannel();
        QVERIFY(bus_.waitForFinished(kDeadlineMs));
    }

    void properties_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("Category") << u"Category"_s << QVariant(u"SystemServices"_s);
        QTest::newRow("Id") << u"Id"_s << QVariant(u"korvan-controller"_s);
        QTest::newRow("Title") << u"Title"_s << QVariant(AppTexts::productName);
        QTest::newRow("Status") << u"Status"_s << QVariant(u"Active"_s);
        QTest::newRow("ItemIsMenu") << u"ItemIsMenu"_s << QVariant(true);
        QTest::newRow("IconAccessibleDesc")
            << u"IconAccessibleDesc"_s << QVariant(AppTexts::productName);
    }
    void properties() {
        QFETCH(QString, name);
        QFETCH(QVariant, expected);
        launchAndWaitForItem(true);
        QCOMPARE(property(name), expected);
    }

    // The tint of each kind of state, byte by byte from alpha on.
    void iconPixmapIsInNetworkByteOrder_data() {
        QTest::addColumn<bool>("paired");
        QTest::addColumn<ServiceSnapshot>("report");
        QTest::addColumn<QByteArray>("argb");
        const ServiceSnapshot connecting{u"enabled"_s, {}, u"online"_s, {}, 0, 0};
        QTest::newRow("unpaired, grey") << false << kLinked << QByteArray("\xff\x8e\x8e\x93");
        QTest::newRow("linked, green") << true << kLinked << QByteArray("\xff\x34\xc7\x59");
        QTest::newRow("connecting, yellow") << true << connecting << QByteArray("\xff\xff\xcc", 4);
        QTest::newRow("failed, red") << true << kFailed << QByteArray("\xff\xff\x3b\x30");
    }
    void iconPixmapIsInNetworkByteOrder() {
        QFETCH(bool, paired);
        QFETCH(ServiceSnapshot, report);
        launchAndWaitForItem(paired, report);
        const QByteArray pixels =
            qdbus_cast<IconPixmapList>(property(u"IconPixmap"_s)).value(5).bytes; // 64 px
        qsizetype opaque = 0;
        while (opaque < pixels.size() && uchar(pixels.at(opaque)) != 0xff)
            opaque += 4;
        QTEST(pixels.mid(opaque, 4), "argb");
    }

    void layout_data() {
        QTest::addColumn<int>("row"); // -1: the root
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("root") << -1 << u"children-display"_s << QVariant(u"submenu"_s);
        QTest::newRow("title") << 0 << u"label"_s << QVariant(AppTexts::productName);
        QTest::newRow("title disabled") << 0 << u"enabled"_s << QVariant(false);
        QTest::newRow("title picture") << 0 << u"icon-data"_s << QVariant(QSize(16, 16));
        QTest::newRow("state line") << 1 << u"label"_s << QVariant(StatusText::stateLinked);
        QTest::newRow("separator") << 6 << u"type"_s << QVariant(u"separator"_s);
        QTest::newRow("start off while linked") << 7 << u"enabled"_s << QVariant(false);
        QTest::newRow("stop on while linked") << 8 << u"enabled"_s << QVariant(true);
        QTest::newRow("stop picture described") << 8 << u"accessible-desc"_s << QVariant(u"停止"_s);
        QTest::newRow("login check mark") << 14 << u"toggle-type"_s << QVariant(u"checkmark"_s);
        QTest::newRow("login checked") << 14 << u"toggle-state"_s << QVariant(1);
        QTest::newRow("quit shortcut") << 17 << u"shortcut"_s << QVariant(u"Control+Q"_s);
        QTest::newRow("added row, _ and & escaped") << 18 << u"label"_s << QVariant(u"a__b&c_d"_s);
    }
    void layout() {
        QFETCH(int, row);
        QFETCH(QString, name);
        QFETCH(QVariant, expected);
        launchAndWaitForItem(true);
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* menu = qobject_cast<QMenu*>(widget))
                menu->addAction(u"a_b&&c&d"_s);
        }
        const DBusMenuLayoutItem root = menuLayout();
        const QVariantMap properties =
            row < 0 ? root.properties : root.children.value(row).properties;
        QCOMPARE(plain(properties.value(name)), expected);
    }

    // The item and its rows first; the pictures follow the first report, each announced.
    void picturesAreAnnouncedAfterTheFirstReport() {
        launch(true, kLinked, false);
        QVERIFY(QTest::qWaitFor([&] { return !watcher_.registered.isEmpty(); }, kDeadlineMs));
        services_.completeAll();
        QTRY_COMPARE_WITH_TIMEOUT(updatedPictures_, 7, kDeadlineMs); // rows 1, 7 to 9, 10 to 12
    }

    void clickedStopRunsOneStop() {
        launchAndWaitForItem(true);
        const QDBusMessage reply = menuCall(u"Event"_s, {rowId(AppTexts::stopTitle), u"clicked"_s,
                                                         QVariant::fromValue(QDBusVariant(0)), 0u});
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QTRY_COMPARE_WITH_TIMEOUT(services_.calls.count(u"stop"_s), 1, kDeadlineMs);
    }

    void missingPropertyIsAnError() {
        launchAndWaitForItem(true);
        QCOMPARE(menuCall(u"GetProperty"_s, {0, u"label"_s}).type(), QDBusMessage::ErrorMessage);
    }

    void failedReportNeedsAttentionAndBack() { // and its state line is announced
        launchAndWaitForItem(true);
        QVERIFY(client().connect(itemName(), u"/StatusNotifierItem"_s, kItem, u"NewStatus"_s, this,
                                 SLOT(recordStatus(QString))));
        QVERIFY(client().interface()->isServiceRegistered(itemName())); // the match is in place
        services_.report = kFailed;
        tick();
        services_.report = kLinked;
        tick();
        QTRY_COMPARE_WITH_TIMEOUT(statuses_, QStringList({u"NeedsAttention"_s, u"Active"_s}),
                                  kDeadlineMs);
        QCOMPARE(updatedLabels_.count(StatusText::stateFailed), 1); // the line, announced
    }

    void reregisters_data() {
        QTest::addColumn<bool>("restartWatcher");
        QTest::addColumn<int>("refusals");
        QTest::newRow("the watcher's owner changes") << true << 0;
        QTest::newRow("registration calls fail") << false << 3;
    }
    void reregisters() {
        QFETCH(bool, restartWatcher);
        QFETCH(int, refusals);
        watcher_.refusals = refusals;
        launchAndWaitForItem(true);
        if (restartWatcher) {
            stopWatcher();
            startWatcher();
        }
        QTRY_COMPARE_WITH_TIMEOUT(watcher_.registered, QStringList{itemName()}, kDeadlineMs);
    }

    // With neither kind of tray: one line, one notification, and the item
    // once a host starts.
    void noTray_data() {
        QTest::addColumn<int>("record");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("standard error") << 0 << QStringList{TrayTexts::noTrayLine};
        QTest::newRow("notification")
            << 1 << QStringList{AppTexts::productName, TrayTexts::noTrayNotificationBody};
        QTest::newRow("a host starts") << 2 << QStringList{itemName()};
    }
    void noTray() {
        QFETCH(int, record);
        QFETCH(QStringList, expected);
        stopWatcher();
        launch(true);
        QVERIFY(QTest::qWaitFor([&] { return !errors_.isEmpty(); }, kDeadlineMs));
        if (record == 2)
            startWatcher();
        const QStringList* records[] = {&errors_, &notifications_.received, &watcher_.registered};
        QTRY_COMPARE_WITH_TIMEOUT(*records[record], expected, kDeadlineMs);
    }

    // No QSystemTrayIcon call while a host is registered.
    void choice_data() {
        QTest::addColumn<bool>("host");
        QTest::addColumn<bool>("hostLater");
        QTest::addColumn<qsizetype>("registrations");
        QTest::addColumn<int>("fallbacksAlive");
        QTest::addColumn<int>("fallbacksMade");
        QTest::newRow("a host") << true << false << qsizetype(1) << 0 << 0;
        QTest::newRow("XEmbed alone") << false << false << qsizetype(0) << 1 << 1;
        QTest::newRow("a host after XEmbed") << false << true << qsizetype(1) << 0 << 1;
    }
    void choice() {
        QFETCH(bool, host);
        QFETCH(bool, hostLater);
        QFETCH(qsizetype, registrations);
        QFETCH(int, fallbacksAlive);
        xembed_ = true;
        watcher_.host = host;
        launch(true);
        QVERIFY(QTest::qWaitFor([&] { return fallbacksMade_ + watcher_.registered.size() > 0; },
                                kDeadlineMs));
        if (hostLater) {
            watcher_.host = true;
            QDBusConnection(watcherConnection())
                .send(QDBusMessage::createSignal(u"/StatusNotifierWatcher"_s, kWatcher,
                                                 u"StatusNotifierHostRegistered"_s));
        }
        QTRY_COMPARE_WITH_TIMEOUT(watcher_.registered.size(), registrations, kDeadlineMs);
        QTRY_COMPARE_WITH_TIMEOUT(fallbacksAlive_, fallbacksAlive, kDeadlineMs);
        QTEST(fallbacksMade_, "fallbacksMade");
    }
};

QTEST_MAIN(TestStatusNotifierItem)
#include "tst_StatusNotifierItem.moc"
