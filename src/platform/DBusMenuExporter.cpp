#include "DBusMenuExporter.h"

#include "PngImage.h"

#include <QAction>
#include <QActionEvent>
#include <QDBusMessage>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QPixmap>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

const char kAccessibleDescription[] = "korvanAccessibleDescription";
// Hosts send one or two opening calls per opening, within the same second.
constexpr qint64 kOpeningWindowMs = 1000;

// The protocol marks a mnemonic with "_" and escapes a literal one as "__";
// Qt marks it with "&" and escapes "&&".
QString labelOf(const QString& text) {
    QString label;
    label.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'_') {
            label += u"__"_s;
        } else if (c == u'&' && i + 1 < text.size() && text.at(i + 1) == u'&') {
            label += u'&';
            ++i;
        } else if (c == u'&' && i + 1 < text.size()) {
            label += u'_';
        } else {
            label += c;
        }
    }
    return label;
}

// [["Control", "Q"]]: one list of key names per chord.
QList<QStringList> shortcutOf(const QKeySequence& sequence) {
    QList<QStringList> chords;
    for (int i = 0; i < sequence.count(); ++i) {
        QStringList keys =
            QKeySequence(sequence[i]).toString(QKeySequence::PortableText).split(u'+');
        for (QString& key : keys) {
            if (key == u"Ctrl")
                key = u"Control"_s;
            else if (key == u"Meta")
                key = u"Super"_s;
        }
        chords << keys;
    }
    return chords;
}

QVariantMap filtered(const QVariantMap& properties, const QStringList& names) {
    if (names.isEmpty())
        return properties;
    QVariantMap kept;
    for (const QString& name : names) {
        if (properties.contains(name))
            kept.insert(name, properties.value(name));
    }
    return kept;
}

} // namespace

DBusMenuExporter::DBusMenuExporter(QObject* parent) : QObject(parent) {
    registerStatusNotifierTypes();
}

DBusMenuExporter::~DBusMenuExporter() {
    if (menu_)
        menu_->removeEventFilter(this);
}

void DBusMenuExporter::setAccessibleDescription(QAction* action, const QString& text) {
    action->setProperty(kAccessibleDescription, text);
}

void DBusMenuExporter::setMenu(QMenu* menu) {
    if (menu_ == menu)
        return;
    if (menu_)
        menu_->removeEventFilter(this);
    menu_ = menu;
    if (menu_)
        menu_->installEventFilter(this);
    layoutChanged_ = true;
    scheduleAnnouncement();
}

QList<QAction*> DBusMenuExporter::rows() const {
    return menu_ ? menu_->actions() : QList<QAction*>();
}

int DBusMenuExporter::idOf(QAction* action) {
    auto found = ids_.constFind(action);
    if (found != ids_.cend())
        return *found;
    const int id = nextId_++;
    ids_.insert(action, id);
    actions_.insert(id, action);
    return id;
}

QAction* DBusMenuExporter::actionOf(int id) const {
    QAction* action = actions_.value(id);
    return action && rows().contains(action) ? action : nullptr;
}

QByteArray DBusMenuExporter::pngOf(QAction* action) {
    const QIcon icon = action->icon();
    if (icon.isNull())
        return {};
    auto found = pngs_.constFind(icon.cacheKey());
    if (found == pngs_.cend())
        found = pngs_.insert(icon.cacheKey(),
                             PngImage::encode(icon.pixmap(QSize(16, 16), 1.0).toImage()));
    return *found;
}

QVariantMap DBusMenuExporter::propertiesOf(int id) {
    QVariantMap properties;
    if (id == 0) {
        properties.insert(u"children-display"_s, u"submenu"_s);
        return properties;
    }
    QAction* action = actionOf(id);
    if (!action)
        return properties;
    properties.insert(u"visible"_s, action->isVisible());
    if (action->isSeparator()) {
        properties.insert(u"type"_s, u"separator"_s);
        return properties;
    }
    properties.insert(u"label"_s, labelOf(action->text()));
    properties.insert(u"enabled"_s, action->isEnabled());
    if (action->isCheckable()) {
        properties.insert(u"toggle-type"_s, u"checkmark"_s);
        properties.insert(u"toggle-state"_s, action->isChecked() ? 1 : 0);
    }
    if (const QByteArray png = pngOf(action); !png.isEmpty())
        properties.insert(u"icon-data"_s, png);
    if (const QString description = action->property(kAccessibleDescription).toString();
        !description.isEmpty())
        properties.insert(u"accessible-desc"_s, description);
    if (!action->shortcut().isEmpty())
        properties.insert(u"shortcut"_s, QVariant::fromValue(shortcutOf(action->shortcut())));
    if (!announced_.contains(id))
        announced_.insert(id, properties);
    return properties;
}

uint DBusMenuExporter::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                 DBusMenuLayoutItem& layout) {
    if (!hasRow(parentId)) {
        sendErrorReply(QDBusError::InvalidArgs, u"no menu row %1"_s.arg(parentId));
        return revision_;
    }
    layout.id = parentId;
    layout.properties = filtered(propertiesOf(parentId), propertyNames);
    if (parentId == 0 && recursionDepth != 0) {
        for (QAction* action : rows()) {
            const int id = idOf(action);
            layout.children << DBusMenuLayoutItem{
                id, filtered(propertiesOf(id), propertyNames), {}};
        }
    }
    return revision_;
}

DBusMenuItemList DBusMenuExporter::GetGroupProperties(const QList<int>& ids,
                                                      const QStringList& propertyNames) {
    QList<int> wanted = ids;
    if (wanted.isEmpty()) {
        wanted << 0;
        for (QAction* action : rows())
            wanted << idOf(action);
    }
    DBusMenuItemList items;
    for (int id : wanted) {
        if (hasRow(id))
            items << DBusMenuItem{id, filtered(propertiesOf(id), propertyNames)};
    }
    return items;
}

QDBusVariant DBusMenuExporter::GetProperty(int id, const QString& name) {
    const QVariantMap properties = propertiesOf(id);
    if (!hasRow(id) || !properties.contains(name)) {
        sendErrorReply(QDBusError::InvalidArgs,
                       u"no property %1 on menu row %2"_s.arg(name).arg(id));
        return QDBusVariant(QVariant(0));
    }
    return QDBusVariant(properties.value(name));
}

bool DBusMenuExporter::handleEvent(int id, const QString& eventId) {
    if (!hasRow(id))
        return false;
    if (id == 0 && eventId == u"opened") {
        opened();
    } else if (eventId == u"clicked" && id != 0) {
        // The reply goes out first: an alert or a quit inside the call would
        // leave the host waiting for it.
        QAction* action = actionOf(id);
        QTimer::singleShot(0, action, [action] {
            if (action->isEnabled() && action->isVisible() && !action->isSeparator())
                action->trigger();
        });
    }
    return true;
}

void DBusMenuExporter::Event(int id, const QString& eventId, const QDBusVariant&, uint) {
    if (!handleEvent(id, eventId))
        sendErrorReply(QDBusError::InvalidArgs, u"no menu row %1"_s.arg(id));
}

QList<int> DBusMenuExporter::EventGroup(const DBusMenuEventList& events) {
    QList<int> notFound;
    for (const DBusMenuEvent& event : events) {
        if (!handleEvent(event.id, event.eventId))
            notFound << event.id;
    }
    return notFound;
}

bool DBusMenuExporter::AboutToShow(int id) {
    if (!hasRow(id)) {
        sendErrorReply(QDBusError::InvalidArgs, u"no menu row %1"_s.arg(id));
        return false;
    }
    if (id == 0)
        opened();
    return false; // the layout never changes on opening; changes are announced
}

QList<int> DBusMenuExporter::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
    for (int id : ids) {
        if (!hasRow(id))
            idErrors << id;
        else if (id == 0)
            opened();
    }
    return {};
}

void DBusMenuExporter::opened() {
    if (!menu_ || (lastOpening_.isValid() && lastOpening_.elapsed() < kOpeningWindowMs))
        return;
    lastOpening_.start();
    // What the menu does before it shows itself: the program's refresh-on-open.
    Q_EMIT menu_->aboutToShow();
}

bool DBusMenuExporter::eventFilter(QObject* watched, QEvent* event) {
    if (watched == menu_) {
        switch (event->type()) {
        case QEvent::ActionAdded:
        case QEvent::ActionRemoved:
            layoutChanged_ = true;
            scheduleAnnouncement();
            break;
        case QEvent::ActionChanged:
            scheduleAnnouncement();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void DBusMenuExporter::scheduleAnnouncement() {
    if (std::exchange(announcementPending_, true))
        return;
    QMetaObject::invokeMethod(this, &DBusMenuExporter::announce, Qt::QueuedConnection);
}

void DBusMenuExporter::announce() {
    announcementPending_ = false;
    if (std::exchange(layoutChanged_, false)) {
        // Rows that went are forgotten; their ids are never handed out again.
        for (auto it = ids_.begin(); it != ids_.end();) {
            if (rows().contains(it.key())) {
                ++it;
                continue;
            }
            actions_.remove(*it);
            announced_.remove(*it);
            it = ids_.erase(it);
        }
        Q_EMIT LayoutUpdated(++revision_, 0);
    }
    DBusMenuItemList updated;
    DBusMenuItemKeysList removed;
    for (QAction* action : rows()) {
        const int id = idOf(action);
        const QVariantMap before = announced_.value(id);
        const QVariantMap now = propertiesOf(id);
        if (now == before)
            continue;
        announced_.insert(id, now);
        DBusMenuItem changed{id, {}};
        for (auto it = now.cbegin(); it != now.cend(); ++it) {
            if (before.value(it.key()) != it.value())
                changed.properties.insert(it.key(), it.value());
        }
        updated << changed;
        DBusMenuItemKeys gone{id, {}};
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (!now.contains(it.key()))
                gone.properties << it.key();
        }
        if (!gone.properties.isEmpty())
            removed << gone;
    }
    if (!updated.isEmpty() || !removed.isEmpty())
        Q_EMIT ItemsPropertiesUpdated(updated, removed);
}
