// QuitSignals: SIGTERM (what a logout sends), SIGINT and SIGHUP, turned into
// the Qt signal `received` on the thread that created the watcher, so that
// they end the tray program the way its quit item does: the event loop
// returns and every object is destroyed in order.
//
// Create one on the main thread, after the application object. The handler
// only writes a byte to a close-on-exec pipe; everything else runs from the
// event loop. Children the runner spawns get default dispositions back.
#pragma once

#include <QObject>

class QSocketNotifier;

class QuitSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

Q_SIGNALS:
    void received(int signal);

private:
    QSocketNotifier* notifier_ = nullptr;
};
