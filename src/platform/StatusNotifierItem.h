// StatusNotifierItem: the program's tray item as an object of its own on the
// session bus, after the StatusNotifierItem protocol, with its menu exported
// over com.canonical.dbusmenu (DBusMenuExporter).
//
// Main thread only. Nothing goes on the bus before `show`; from then on the
// item is at /StatusNotifierItem under org.kde.StatusNotifierItem-<pid>-1
// and registers with the watcher whenever one appears: a panel restart or a
// panel started after the program. A registration call that fails is tried
// again every `retryInterval`, `retryLimit` times, then on the watcher's next
// change of owner. The item says it is a menu: hosts open the exported menu
// on a click. On X11 a host that still asks to activate it gets the same menu
// as a popup at the point it names. The caller owns the menu (see TrayIcon).
#pragma once

#include "DBusMenuExporter.h"
#include "StatusNotifierTypes.h"
#include "TrayIcon.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>

class QDBusServiceWatcher;

class StatusNotifierItem final : public QObject, public TrayIcon {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ emptyText)
    Q_PROPERTY(QString IconThemePath READ emptyText)
    Q_PROPERTY(QString OverlayIconName READ emptyText)
    Q_PROPERTY(QString AttentionIconName READ emptyText)
    Q_PROPERTY(QString AttentionMovieName READ emptyText)
    Q_PROPERTY(IconPixmapList IconPixmap READ iconPixmap)
    Q_PROPERTY(IconPixmapList AttentionIconPixmap READ attentionIconPixmap)
    Q_PROPERTY(IconPixmapList OverlayIconPixmap READ overlayIconPixmap)
    Q_PROPERTY(ToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QString IconAccessibleDesc READ title)
    Q_PROPERTY(QDBusObjectPath Menu READ menuPath)

public:
    struct Timing {
        std::chrono::milliseconds retryInterval = std::chrono::seconds(1);
        int retryLimit = 10;
    };

    // `id` and `title` are the item's Id and Title; the title is also its
    // icon's accessibility description.
    StatusNotifierItem(QDBusConnection bus, QString id, QString title, Timing timing);
    ~StatusNotifierItem() override;

    void setSymbol(const QString& symbol, SymbolTint tint) override;
    void setMenu(QMenu* menu) override;
    void setToolTip(const QString& text) override;
    void show() override;

    QString category() const { return QStringLiteral("SystemServices"); }
    QString id() const { return id_; }
    QString title() const { return title_; }
    QString status() const;
    int windowId() const { return 0; }
    QString emptyText() const { return {}; }
    IconPixmapList iconPixmap() const { return icon_; }
    IconPixmapList attentionIconPixmap();
    IconPixmapList overlayIconPixmap() const { return {}; }
    ToolTip toolTip() const { return ToolTip{{}, {}, toolTip_, {}}; }
    bool itemIsMenu() const { return true; }
    QDBusObjectPath menuPath() const;

public Q_SLOTS:
    Q_SCRIPTABLE void Activate(int x, int y);
    Q_SCRIPTABLE void ContextMenu(int x, int y);
    Q_SCRIPTABLE void SecondaryActivate(int x, int y);
    Q_SCRIPTABLE void Scroll(int delta, const QString& orientation);

Q_SIGNALS:
    Q_SCRIPTABLE void NewIcon();
    Q_SCRIPTABLE void NewAttentionIcon();
    Q_SCRIPTABLE void NewStatus(const QString& status);
    Q_SCRIPTABLE void NewTitle();
    Q_SCRIPTABLE void NewToolTip();

private:
    IconPixmapList pixmapsOf(const QString& symbol, SymbolTint tint);
    void popUpMenu(int x, int y);
    void registerWithWatcher();

    QDBusConnection bus_;
    QString id_;
    QString title_;
    Timing timing_;
    DBusMenuExporter menuExporter_;
    QPointer<QMenu> menu_;
    QString toolTip_;
    IconPixmapList icon_;
    bool needsAttention_ = false;
    bool shown_ = false;
    QString serviceName_;
    QDBusServiceWatcher* watcher_ = nullptr;
    QTimer retryTimer_;
    int retries_ = 0;
    QHash<QString, IconPixmapList> drawn_; // by symbol name and tint
};
