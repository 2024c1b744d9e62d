#include "Preferences.h"

#include <QSettings>

bool SettingsPreferences::boolValue(const QString& key) const {
    return QSettings().value(key, false).toBool();
}

void SettingsPreferences::setBoolValue(const QString& key, bool value) {
    QSettings settings;
    settings.setValue(key, value);
    // Written now rather than at exit, so a crash later keeps the value.
    settings.sync();
}
