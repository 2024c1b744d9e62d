// DBusMenuExporter: a QMenu shown to tray hosts over com.canonical.dbusmenu,
// so that a host can draw the program's menu as its own.
//
// Main thread only. The exporter reads the menu's actions on every call and
// never writes them: the menu stays the one place the program writes. Row ids
// are handed out per action and never reused; the root is 0. Changes to the
// actions are announced on the next turn of the event loop (a label, enabled
// state, check mark or picture with ItemsPropertiesUpdated, added or removed
// rows with LayoutUpdated), coalesced. Submenus are not exported: the
// program's menu has none. The menu is not owned; it may go at any time.
#pragma once

#include "StatusNotifierTypes.h"

#include <QDBusContext>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>

class QAction;
class QMenu;

class DBusMenuExporter final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    explicit DBusMenuExporter(QObject* parent = nullptr);
    ~DBusMenuExporter() override;

    void setMenu(QMenu* menu);

    // The accessibility description of an action's picture, exported as the
    // row's "accessible-desc".
    static void setAccessibleDescription(QAction* action, const QString& text);

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public Q_SLOTS:
    Q_SCRIPTABLE uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                DBusMenuLayoutItem& layout);
    Q_SCRIPTABLE DBusMenuItemList GetGroupProperties(const QList<int>& ids,
                                                     const QStringList& propertyNames);
    Q_SCRIPTABLE QDBusVariant GetProperty(int id, const QString& name);
    Q_SCRIPTABLE void Event(int id, const QString& eventId, const QDBusVariant& data,
                            uint timestamp);
    Q_SCRIPTABLE QList<int> EventGroup(const DBusMenuEventList& events);
    Q_SCRIPTABLE bool AboutToShow(int id);
    Q_SCRIPTABLE QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

Q_SIGNALS:
    Q_SCRIPTABLE void LayoutUpdated(uint revision, int parent);
    Q_SCRIPTABLE void ItemsPropertiesUpdated(const DBusMenuItemList& updatedProps,
                                             const DBusMenuItemKeysList& removedProps);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QList<QAction*> rows() const;
    int idOf(QAction* action);
    QAction* actionOf(int id) const;
    bool hasRow(int id) const { return id == 0 || actionOf(id); }
    QVariantMap propertiesOf(int id);
    QByteArray pngOf(QAction* action);
    // Handles one event; false when the id names no row.
    bool handleEvent(int id, const QString& eventId);
    void opened();
    void scheduleAnnouncement();
    void announce();

    QPointer<QMenu> menu_;
    QHash<QAction*, int> ids_;
    QHash<int, QPointer<QAction>> actions_;
    int nextId_ = 1;
    uint revision_ = 1;
    bool layoutChanged_ = false;
    bool announcementPending_ = false;
    QHash<int, QVariantMap> announced_; // what hosts were last told, by id
    QHash<qint64, QByteArray> pngs_;    // by QIcon::cacheKey
    QElapsedTimer lastOpening_;
};
