// The bundled symbols: present, drawn, tinted and sharp at 1x and 2x.

#include "platform/SymbolIcons.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Share of pixels that are at least half covered, and whether every clearly
// covered pixel carries the tint's colour.
struct Coverage {
    double filled = 0;
    bool onlyTint = true;
};

Coverage coverage(const QImage& image, const QColor& tint) {
    Coverage c;
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor p = image.pixelColor(x, y);
            // Faint edge pixels lose colour precision to premultiplication.
            if (p.alpha() < 64)
                continue;
            if (p.alpha() >= 128)
                ++count;
            if (qAbs(p.red() - tint.red()) > 2 || qAbs(p.green() - tint.green()) > 2 ||
                qAbs(p.blue() - tint.blue()) > 2)
                c.onlyTint = false;
        }
    }
    c.filled = double(count) / (image.width() * image.height());
    return c;
}

QImage straight(const QPixmap& pixmap) {
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class SymbolIconsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everySymbolIsBundledAndDrawn_data() {
        QTest::addColumn<QString>("symbol");
        QTest::addColumn<SymbolTint>("tint");
        const QList<SymbolTint> tints = {SymbolTint::grey, SymbolTint::yellow, SymbolTint::green,
                                         SymbolTint::red};
        int i = 0;
        for (const char* name :
             {"power.circle", "antenna.radiowaves.left.and.right",
              "antenna.radiowaves.left.and.right.circle.fill", "exclamationmark.circle.fill",
              "play.fill", "stop.fill", "arrow.clockwise", "iphone", "macbook", "link"})
            QTest::newRow(name) << QString::fromUtf8(name) << tints[i++ % tints.size()];
    }

    void everySymbolIsBundledAndDrawn() {
        QFETCH(QString, symbol);
        QFETCH(SymbolTint, tint);
        QVERIFY(QFile::exists(u":/symbols/"_s + symbol + u".svg"_s));
        const QColor color = SymbolIcons::tintColor(tint);
        const QIcon icon = SymbolIcons::tinted(symbol, color);
        QVERIFY(!icon.isNull());

        const QImage one = straight(icon.pixmap(QSize(16, 16), 1.0));
        const QImage two = straight(icon.pixmap(QSize(16, 16), 2.0));
        QCOMPARE(one.size(), QSize(16, 16));
        QCOMPARE(two.size(), QSize(32, 32));
        QCOMPARE(two.devicePixelRatio(), 2.0);
        const Coverage c1 = coverage(one, color);
        const Coverage c2 = coverage(two, color);
        QVERIFY2(c1.filled > 0.05 && c1.filled < 0.9, qPrintable(QString::number(c1.filled)));
        QVERIFY(c1.onlyTint);
        QVERIFY(c2.onlyTint);
        // Drawn afresh at 2x, not blown up from 1x: the larger image is not
        // just the smaller one with each pixel doubled.
        QVERIFY(two != one.scaled(32, 32, Qt::IgnoreAspectRatio, Qt::FastTransformation));
        QVERIFY(qAbs(c1.filled - c2.filled) < 0.15);
    }

    void symbolsDiffer() {
        const QColor red = SymbolIcons::tintColor(SymbolTint::red);
        QSet<QByteArray> seen;
        for (const QString& name : SymbolIcons::symbolNames()) {
            const QImage image = straight(SymbolIcons::tinted(name, red).pixmap(32, 32));
            seen.insert(
                QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()));
        }
        QCOMPARE(seen.size(), SymbolIcons::symbolNames().size());
    }

    void tintsAreDistinct() {
        QSet<QRgb> colors;
        for (SymbolTint t :
             {SymbolTint::grey, SymbolTint::yellow, SymbolTint::green, SymbolTint::red})
            colors.insert(SymbolIcons::tintColor(t).rgb());
        QCOMPARE(colors.size(), 4);
        QVERIFY(SymbolIcons::tinted(u"no.such.symbol"_s, Qt::red).isNull());
    }

    void menuIconPrefersTheme() {
        QTemporaryDir themes;
        const QString dir = themes.path() + u"/korvantest/16x16/actions"_s;
        QVERIFY(QDir().mkpath(dir));
        QFile index(themes.path() + u"/korvantest/index.theme"_s);
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=korvantest\nDirectories=16x16/actions\n\n"
                    "[16x16/actions]\nSize=16\nType=Fixed\n");
        index.close();
        QVERIFY(QFile::copy(u":/symbols/play.fill.svg"_s, dir + u"/media-playback-start.svg"_s));
        QIcon::setThemeSearchPaths({themes.path()});
        QIcon::setThemeName(u"korvantest"_s);

        QCOMPARE(SymbolIcons::menuIcon(u"play.fill"_s).name(), u"media-playback-start"_s);
        // No theme icon for this one: the bundled symbol stands in.
        const QIcon stop = SymbolIcons::menuIcon(u"stop.fill"_s);
        QVERIFY(!stop.isNull());
        QVERIFY(stop.name().isEmpty());
    }
};

QTEST_MAIN(SymbolIconsTest)
#include "tst_SymbolIcons.moc"
