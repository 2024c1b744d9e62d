// Alert: the one modal warning the controller shows when something fails.
//
// Main thread only. `showWarning` shows the alert and returns at once; the
// alert is application-modal but runs no event loop of its own, so timers,
// runs and hand-overs go on while it is up. `dismissed` (which may be empty)
// is called once the user has dismissed it; which button was pressed is not
// reported. An alert still up when its owner is destroyed goes with it,
// without a call. The texts are shown exactly as given: callers trim them.
#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <functional>

class QMessageBox;

class Alert {
public:
    virtual ~Alert() = default;
    virtual void showWarning(const QString& messageText, const QString& informativeText,
                             const QString& buttonTitle, std::function<void()> dismissed) = 0;
};

// The real alert: an application-modal warning QMessageBox with one button.
class MessageBoxAlert final : public Alert {
public:
    MessageBoxAlert() = default;
    MessageBoxAlert(const MessageBoxAlert&) = delete;
    MessageBoxAlert& operator=(const MessageBoxAlert&) = delete;
    ~MessageBoxAlert() override;

    void showWarning(const QString& messageText, const QString& informativeText,
                     const QString& buttonTitle, std::function<void()> dismissed) override;

private:
    QList<QPointer<QMessageBox>> open_;
};
