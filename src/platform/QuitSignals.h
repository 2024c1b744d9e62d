// QuitSignals: the signals that end either program, SIGINT (Ctrl+C), SIGTERM
// (what a logout or `kill` sends) and SIGHUP (a closed terminal), turned into
// the Qt signal `received` on the thread that created the watcher. The tray
// program quits as its quit item does; korvanctl ends its runs and exits.
//
// Create one on the main thread, after the application object, and only one
// at a time: the handlers and their self-pipe are process-wide. The handler
// only writes the signal's number to a close-on-exec, non-blocking pipe;
// everything else runs from the event loop, or from `deliverPending` where
// no loop runs. Destruction gives the signals their default action back.
// Children the runner spawns get default dispositions back on their own.
#pragma once

#include <QObject>

class QSocketNotifier;

class QuitSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

    // Emits `received` now for every signal that came and was not yet
    // delivered by the event loop.
    void deliverPending();

Q_SIGNALS:
    void received(int signal);

private:
    QSocketNotifier* notifier_ = nullptr;
};
