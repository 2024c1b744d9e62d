// Preferences: the application's persisted Boolean settings.
//
// Main thread only. An absent key reads as false. Values outlive the process.
#pragma once

#include <QString>

class Preferences {
public:
    virtual ~Preferences() = default;
    virtual bool boolValue(const QString& key) const = 0;
    virtual void setBoolValue(const QString& key, bool value) = 0;
};

// The application's standard QSettings (organisation and application names
// of the QCoreApplication), written through at once.
class SettingsPreferences final : public Preferences {
public:
    bool boolValue(const QString& key) const override;
    void setBoolValue(const QString& key, bool value) override;
};
