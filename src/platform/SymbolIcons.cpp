#include "SymbolIcons.h"

#include <QFile>
#include <QGuiApplication>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QSvgRenderer>
#include <functional>
#include <optional>

namespace {

struct Symbol {
    const char16_t* name;
    const char16_t* themeName;
};

// Theme names from the freedesktop icon naming rules, where one fits.
constexpr Symbol kSymbols[] = {
    {u"power.circle", u""},
    {u"antenna.radiowaves.left.and.right", u"network-wireless"},
    {u"antenna.radiowaves.left.and.right.circle.fill", u""},
    {u"exclamationmark.circle.fill", u""},
    {u"play.fill", u"media-playback-start"},
    {u"stop.fill", u"media-playback-stop"},
    {u"arrow.clockwise", u"view-refresh"},
    {u"iphone", u"phone"},
    {u"macbook", u"computer-laptop"},
    {u"link", u"insert-link"},
};

QString resourcePath(const QString& symbolName) {
    return QStringLiteral(":/symbols/") + symbolName + QStringLiteral(".svg");
}

// Draws the SVG afresh for every requested pixel size, then replaces its
// colour: the source art is single-coloured, only its coverage matters.
class TintedSymbolEngine final : public QIconEngine {
public:
    TintedSymbolEngine(QString path, QColor color)
        : path_(std::move(path)), color_(color), renderer_(path_) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap image = pixmap(rect.size() * ratio, mode, state);
        image.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect, image);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        if (size.isEmpty() || !renderer_.isValid())
            return QPixmap();
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        const int side = qMin(size.width(), size.height());
        renderer_.render(&painter, QRectF((size.width() - side) / 2.0, (size.height() - side) / 2.0,
                                          side, side));
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        QColor color = color_;
        if (mode == QIcon::Disabled)
            color.setAlphaF(color.alphaF() * 0.4f);
        painter.fillRect(image.rect(), color);
        painter.end();
        return QPixmap::fromImage(std::move(image));
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = qMin(size.width(), size.height());
        return QSize(side, side);
    }

    // Tray hosts that take pixmaps over D-Bus ask for these.
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        return {QSize(16, 16), QSize(22, 22), QSize(24, 24),
                QSize(32, 32), QSize(48, 48), QSize(64, 64)};
    }

    QIconEngine* clone() const override { return new TintedSymbolEngine(path_, color_); }
    QString key() const override { return QStringLiteral("KorvanTintedSymbol"); }
    bool isNull() override { return !renderer_.isValid(); }

private:
    QString path_;
    QColor color_;
    QSvgRenderer renderer_;
};

// Stands in for an icon that is chosen on first use: looking a name up in
// the icon theme loads the theme's folders, a few milliseconds that nothing
// should pay before a picture is actually wanted.
class DeferredIconEngine final : public QIconEngine {
public:
    explicit DeferredIconEngine(std::function<QIcon()> choose) : choose_(std::move(choose)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return icon().pixmap(size, 1.0, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return icon().actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        return icon().availableSizes(mode, state);
    }
    QString iconName() override { return icon().name(); }
    bool isNull() override { return icon().isNull(); }
    QIconEngine* clone() const override { return new DeferredIconEngine(*this); }
    QString key() const override { return QStringLiteral("KorvanDeferredIcon"); }

private:
    QIcon& icon() {
        if (!chosen_)
            chosen_ = choose_();
        return *chosen_;
    }

    std::function<QIcon()> choose_;
    std::optional<QIcon> chosen_;
};

} // namespace

namespace SymbolIcons {

QStringList symbolNames() {
    QStringList names;
    for (const Symbol& symbol : kSymbols)
        names.append(QString::fromUtf16(symbol.name));
    return names;
}

bool hasSymbol(const QString& symbolName) {
    return symbolNames().contains(symbolName);
}

QColor tintColor(SymbolTint tint) {
    switch (tint) {
    case SymbolTint::grey:
        return QColor(142, 142, 147);
    case SymbolTint::yellow:
        return QColor(255, 204, 0);
    case SymbolTint::green:
        return QColor(52, 199, 89);
    case SymbolTint::red:
        break;
    }
    return QColor(255, 59, 48);
}

QIcon tinted(const QString& symbolName, const QColor& color) {
    if (!hasSymbol(symbolName))
        return QIcon();
    return QIcon(new TintedSymbolEngine(resourcePath(symbolName), color));
}

QString themeNameFor(const QString& symbolName) {
    for (const Symbol& symbol : kSymbols) {
        if (symbolName == QStringView(symbol.name))
            return QString::fromUtf16(symbol.themeName);
    }
    return QString();
}

QIcon menuIcon(const QString& symbolName) {
    return QIcon(new DeferredIconEngine([symbolName] {
        const QString themeName = themeNameFor(symbolName);
        const QString theme = QIcon::themeName();
        if (!themeName.isEmpty() && !theme.isEmpty() && theme != u"hicolor" &&
            QIcon::hasThemeIcon(themeName))
            return QIcon::fromTheme(themeName);
        return tinted(symbolName, QGuiApplication::palette().color(QPalette::WindowText));
    }));
}

QIcon themedOrBundled(const QString& themeName, const QString& resourcePath) {
    return QIcon(new DeferredIconEngine(
        [themeName, resourcePath] { return QIcon::fromTheme(themeName, QIcon(resourcePath)); }));
}

} // namespace SymbolIcons
