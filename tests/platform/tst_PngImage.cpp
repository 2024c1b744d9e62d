// Our PNG encoder, read back by Qt's decoder pixel for pixel.
#include "platform/PngImage.h"

#include <QImage>
#include <QTest>

class PngImageTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void roundTrip_data() {
        QTest::addColumn<QImage>("image");
        QImage mixed(3, 2, QImage::Format_ARGB32);
        mixed.fill(Qt::transparent);
        mixed.setPixel(0, 0, qRgba(255, 59, 48, 255));
        mixed.setPixel(2, 1, qRgba(52, 199, 89, 102)); // half covered, not premultiplied
        QTest::newRow("opaque, clear and partly covered pixels") << mixed;
        QImage wide(1000, 1, QImage::Format_RGB32); // a row longer than any chunk of zlib's
        for (int x = 0; x < wide.width(); ++x)
            wide.setPixel(x, 0, qRgb(x % 256, (x * 7) % 256, 255 - x % 256));
        QTest::newRow("one long row, no alpha") << wide;
    }
    void roundTrip() {
        QFETCH(QImage, image);
        const QImage decoded = QImage::fromData(PngImage::encode(image), "PNG");
        QCOMPARE(decoded.convertToFormat(QImage::Format_RGBA8888),
                 image.convertToFormat(QImage::Format_RGBA8888));
    }
};

QTEST_GUILESS_MAIN(PngImageTest)
#include "tst_PngImage.moc"
