#include "WrappingLabel.h"

#include <QEvent>
#include <QPainter>
#include <QTextDocument>
#include <QTextLayout>

namespace {

constexpr QChar kEllipsis = u'\u2026';

} // namespace

WrappingLabel::WrappingLabel(int maxLines, QWidget* parent)
    : QWidget(parent), maxLines_(qMax(1, maxLines)) {
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void WrappingLabel::setText(const QString& text) {
    if (text == text_)
        return;
    text_ = text;
    // Tooltips guess at rich text; escaped, markup shows as the characters it is.
    setToolTip(Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text) : text);
    setAccessibleName(text);
    updateGeometry();
    update();
}

QStringList WrappingLabel::linesFor(int width) const {
    if (width <= 0)
        return {};
    // QTextLayout breaks only at line separators; a line feed in the output
    // is meant as one.
    QString shown = text_;
    shown.replace(u'\n', QChar::LineSeparator);
    QTextLayout layout(shown, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);

    QStringList lines;
    bool more = false;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        if (lines.size() == maxLines_) {
            more = true;
            break;
        }
        line.setLineWidth(width);
        QString part = shown.mid(line.textStart(), line.textLength());
        while (part.endsWith(QChar::LineSeparator))
            part.chop(1);
        lines << part;
    }
    layout.endLayout();
    if (more) {
        const QFontMetrics metrics(font());
        lines.last() = metrics.elidedText(lines.last() + kEllipsis, Qt::ElideRight, width);
    }
    return lines;
}

int WrappingLabel::heightForWidth(int width) const {
    const QMargins m = contentsMargins();
    const auto count = linesFor(width - m.left() - m.right()).size();
    return int(qMax<qsizetype>(1, count)) * fontMetrics().lineSpacing() + m.top() + m.bottom();
}

QSize WrappingLabel::sizeHint() const {
    const int width = fontMetrics().averageCharWidth() * 30;
    return {width, heightForWidth(width)};
}

QSize WrappingLabel::minimumSizeHint() const {
    return {0, fontMetrics().lineSpacing()};
}

void WrappingLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    const QRect area = contentsRect();
    const QFontMetrics metrics(font());
    int baseline = area.top() + metrics.ascent();
    for (const QString& line : displayedLines()) {
        painter.drawText(QPoint(area.left(), baseline), line);
        baseline += metrics.lineSpacing();
    }
}

void WrappingLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange)
        updateGeometry();
    QWidget::changeEvent(event);
}
