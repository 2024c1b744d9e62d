// The bundled symbols: present, drawn in their tint only, sharp at 1x and 2x.
#include "platform/SymbolIcons.h"

#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;

class SymbolIconsTest : public QObject {
    Q_OBJECT

    // Share of clearly covered pixels, or -1 when one is not in the tint.
    static double coverage(const QImage& image, const QColor& tint) {
        int count = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor p = image.pixelColor(x, y);
                if (p.alpha() < 64) // faint edges lose colour to premultiplication
                    continue;
                count += p.alpha() >= 128;
                if (qAbs(p.red() - tint.red()) + qAbs(p.green() - tint.green()) +
                        qAbs(p.blue() - tint.blue()) >
                    6)
                    return -1;
            }
        }
        return double(count) / (image.width() * image.height());
    }

private Q_SLOTS:
    void drawnInTheTint_data() {
        QTest::addColumn<QString>("symbol");
        QTest::addColumn<SymbolTint>("tint");
        int i = 0;
        for (const QString& name : SymbolIcons::symbolNames())
            QTest::newRow(qPrintable(name)) << name << SymbolTint(i++ % 4);
    }
    void drawnInTheTint() {
        QFETCH(QString, symbol);
        QFETCH(SymbolTint, tint);
        QVERIFY(QFile::exists(u":/symbols/"_s + symbol + u".svg"_s));
        const QColor colour = SymbolIcons::tintColor(tint);
        const QIcon icon = SymbolIcons::tinted(symbol, colour);
        const QImage one = icon.pixmap(QSize(16, 16), 1.0).toImage();
        const QImage two = icon.pixmap(QSize(16, 16), 2.0).toImage();
        QCOMPARE(two.size(), QSize(32, 32));
        const double c1 = coverage(one.convertToFormat(QImage::Format_ARGB32), colour);
        const double c2 = coverage(two.convertToFormat(QImage::Format_ARGB32), colour);
        QVERIFY2(c1 > 0.05 && c1 < 0.9 && qAbs(c1 - c2) < 0.15, qPrintable(QString::number(c1)));
        // Drawn afresh at 2x, not each pixel of 1x doubled.
        QVERIFY(two != one.scaled(32, 32, Qt::IgnoreAspectRatio, Qt::FastTransformation));
        QVERIFY(SymbolIcons::tinted(symbol + u'~', colour).isNull());
    }
};

QTEST_MAIN(SymbolIconsTest)
#include "tst_SymbolIcons.moc"
