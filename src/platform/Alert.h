// Alert: the one modal warning the controller shows when something fails.
//
// Main thread only. `showWarning` blocks in a nested event loop until the
// user dismisses the alert, then returns; which button was pressed is not
// reported. The texts are shown exactly as given: callers trim them.
#pragma once

#include <QString>

class Alert {
public:
    virtual ~Alert() = default;
    virtual void showWarning(const QString& messageText, const QString& informativeText,
                             const QString& buttonTitle) = 0;
};

// The real alert: an application-modal warning QMessageBox with one button.
class MessageBoxAlert final : public Alert {
public:
    void showWarning(const QString& messageText, const QString& informativeText,
                     const QString& buttonTitle) override;
};
