#include "BusyIndicator.h"

#include <QPainter>
#include <QPen>

namespace {

constexpr int kSide = 16;
constexpr int kTickMs = 80;
constexpr int kStepDegrees = 30;

} // namespace

BusyIndicator::BusyIndicator(QWidget* parent) : QWidget(parent) {
    setFixedSize(kSide, kSide);
    setVisible(false);
    timer_.setInterval(kTickMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        angle_ = (angle_ + kStepDegrees) % 360;
        update();
    });
}

void BusyIndicator::startAnimation() {
    if (!timer_.isActive())
        timer_.start();
    setVisible(true);
}

void BusyIndicator::stopAnimation() {
    timer_.stop();
    setVisible(false);
}

QSize BusyIndicator::sizeHint() const {
    return {kSide, kSide};
}

void BusyIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor colour = palette().color(QPalette::WindowText);
    const qreal width = 2.0;
    const QRectF box = QRectF(rect()).adjusted(width, width, -width, -width);

    QColor faint = colour;
    faint.setAlphaF(0.2f);
    painter.setPen(QPen(faint, width));
    painter.drawEllipse(box);

    // QPainter angles are in 1/16 degree, counter-clockwise; turn clockwise.
    painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(box, -angle_ * 16, 100 * 16);
}
