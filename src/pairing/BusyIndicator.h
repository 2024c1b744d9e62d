// BusyIndicator: a small spinning arc that shows work in progress.
//
// Main thread only. It is hidden while stopped and shows itself when started,
// so a row that holds it closes the gap while nothing runs.
#pragma once

#include <QTimer>
#include <QWidget>

class BusyIndicator : public QWidget {
    Q_OBJECT
public:
    explicit BusyIndicator(QWidget* parent = nullptr);

    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return timer_.isActive(); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer timer_;
    int angle_ = 0; // degrees, advanced by each tick
};
