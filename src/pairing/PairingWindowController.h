// PairingWindowController: the window in which the user pairs this machine
// with an account on a hub.
//
// The window, a dialog, holds the hub address, the one-time pair code, one
// status line with a busy indicator, and the connect button, the dialog's
// default button (Return presses it while it is enabled). Pressing it hands
// the trimmed address and the trimmed, upper-cased code to
// ServiceControl::installAndEnroll and shows its progress texts, then a green
// success line or a red failure line. A success calls `onPaired` once and
// hides the window 1.1 s later.
//
// Main thread only. The controller owns its window and every control in it;
// it refers to the services, which must outlive it. Closing the window (its
// close button or Escape) only hides it, so the next show() brings back the
// same fields; while an attempt runs, windowShouldClose() refuses both.
// Enrollment callbacks refer to the controller through a QPointer and are
// dropped once it is gone. The window and its parts carry object names
// ("pairingWindow", "hubField", "pairCodeField", "statusLabel",
// "connectButton", "progressIndicator", "headerIcon"), and so does the
// controller's delayed close ("closeTimer"), for accessibility tools and tests.
#pragma once

#include <QColor>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

class BusyIndicator;
class QDialog;
class QLineEdit;
class QPushButton;
class ServiceControl;
class WrappingLabel;
struct CommandResult;

class PairingWindowController : public QObject {
    Q_OBJECT
public:
    PairingWindowController(ServiceControl& services, std::function<void()> onPaired);
    ~PairingWindowController() override;
    PairingWindowController(const PairingWindowController&) = delete;
    PairingWindowController& operator=(const PairingWindowController&) = delete;

    // Fills the fields from a korvan link (when given), rewrites the status
    // line from the pairing state, and brings the window to the front.
    void show(const std::optional<QUrl>& pairingURL = std::nullopt);

    // Starts one pairing attempt; does nothing while one runs.
    void connectMac();

    // False while an attempt runs: the window then refuses to close.
    bool windowShouldClose() const { return !isInstalling_; }

    // Delay between a successful pairing and the window hiding itself.
    static constexpr int closeDelayMs = 1100;

    static QColor successColor();
    static QColor failureColor();

private:
    void buildLayout();
    void setStatusText(const QString& text);
    void setStatusColor(const QColor& colour);
    void setControlsEnabled(bool enabled);
    void handleProgress(const QString& text);
    void handleCompletion(const CommandResult& result);
    void centerWindow();

    ServiceControl& services_;
    std::function<void()> onPaired_;
    std::unique_ptr<QDialog> window_;
    QLineEdit* hubField_ = nullptr;
    QLineEdit* pairCodeField_ = nullptr;
    WrappingLabel* statusLabel_ = nullptr;
    QPushButton* connectButton_ = nullptr;
    BusyIndicator* progressIndicator_ = nullptr;
    bool isInstalling_ = false;
    QTimer closeTimer_;
};
