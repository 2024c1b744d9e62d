// WrappingLabel: a read-only line of text that wraps at word boundaries and,
// where a single token is wider than the label (a URL, a path, an error
// code), anywhere inside it; at most `maxLines` lines, the last one ending in
// "…" when text remains.
//
// The text is always plain: it often comes from outside the program
// (installer output), and markup in it must show as written. The whole text
// is the tooltip and the accessible name, so what is cut off stays
// reachable. Drawn in the palette's WindowText colour.
//
// Main thread only; owned by its parent widget.
#pragma once

#include <QStringList>
#include <QWidget>

class WrappingLabel : public QWidget {
    Q_OBJECT
public:
    explicit WrappingLabel(int maxLines, QWidget* parent = nullptr);

    QString text() const { return text_; }
    void setText(const QString& text);

    // The lines as drawn at the current width.
    QStringList displayedLines() const { return linesFor(contentsRect().width()); }

    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QStringList linesFor(int width) const;

    QString text_;
    int maxLines_;
};
