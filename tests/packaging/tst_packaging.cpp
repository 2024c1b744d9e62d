// Installs the build into a temporary prefix with `cmake --install` and checks
// that the desktop sees what it needs: the scheme handler entry and the icon
// in every hicolor size.
#include <QFile>
#include <QImage>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>

class TestPackaging : public QObject {
    Q_OBJECT

private:
    QTemporaryDir prefix_;
    QString data(const QString& relative) const {
        return prefix_.path() + QStringLiteral("/share/") + relative;
    }

private Q_SLOTS:
    void initTestCase();
    void pngIconsHaveTheirSize_data();
    void pngIconsHaveTheirSize();
    void scalableIconRenders();
    void desktopEntryRegistersTheScheme_data();
    void desktopEntryRegistersTheScheme();
    void desktopEntryValidates();
};

void TestPackaging::initTestCase() {
    QVERIFY(prefix_.isValid());
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(KORVAN_CMAKE_COMMAND),
                  {QStringLiteral("--install"), QStringLiteral(KORVAN_BUILD_DIR),
                   QStringLiteral("--prefix"), prefix_.path()});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0,
             install.readAll().constData());
}

void TestPackaging::pngIconsHaveTheirSize_data() {
    QTest::addColumn<int>("size");
    for (int size : {16, 32, 48, 64, 128, 256})
        QTest::addRow("%dx%d", size, size) << size;
}

void TestPackaging::pngIconsHaveTheirSize() {
    QFETCH(int, size);
    const QString path =
        data(QStringLiteral("icons/hicolor/%1x%1/apps/korvan-controller.png").arg(size));
    QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QCOMPARE(image.size(), QSize(size, size));
    // A rounded tile: see-through corners, an opaque middle.
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(size - 1, size - 1)), 0);
    QCOMPARE(qAlpha(image.pixel(size / 2, size - 1 - size / 12)), 255);
}

void TestPackaging::scalableIconRenders() {
    QSvgRenderer svg(data(QStringLiteral("icons/hicolor/scalable/apps/korvan-controller.svg")));
    QVERIFY(svg.isValid());
    QCOMPARE(svg.defaultSize(), QSize(256, 256));
}

void TestPackaging::desktopEntryRegistersTheScheme_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("type") << QStringLiteral("Type") << QStringLiteral("Application");
    QTest::newRow("name") << QStringLiteral("Name") << QStringLiteral("Korvan Controller");
    QTest::newRow("exec takes a url")
        << QStringLiteral("Exec") << QStringLiteral("korvan-controller %u");
    QTest::newRow("icon") << QStringLiteral("Icon") << QStringLiteral("korvan-controller");
    QTest::newRow("scheme") << QStringLiteral("MimeType")
                            << QStringLiteral("x-scheme-handler/korvan;");
    QTest::newRow("no terminal") << QStringLiteral("Terminal") << QStringLiteral("false");
}

void TestPackaging::desktopEntryRegistersTheScheme() {
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFile file(data(QStringLiteral("applications/korvan-controller.desktop")));
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    QMap<QString, QString> entry;
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'['))
            inMainGroup = line == QLatin1String("[Desktop Entry]");
        else if (inMainGroup && line.contains(u'='))
            entry.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
    }
    QCOMPARE(entry.value(key), value);
}

void TestPackaging::desktopEntryValidates() {
    const QString validator =
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty())
        QSKIP("desktop-file-validate is not installed");
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start(validator, {data(QStringLiteral("applications/korvan-controller.desktop"))});
    QVERIFY(validate.waitForFinished(30000));
    QVERIFY2(validate.exitCode() == 0, validate.readAll().constData());
}

QTEST_GUILESS_MAIN(TestPackaging)
#include "tst_packaging.moc"
