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
