// The real alert, URL opener and preferences, offscreen and on temporary folders.

#include "platform/Alert.h"
#include "platform/Preferences.h"
#include "platform/UrlOpener.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

class UrlSink : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void take(const QUrl& url) { urls.append(url); }
};

class DesktopServicesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void alertIsAModalWarningWithOneButton() {
        QString seenTitle, seenInfo;
        QStringList buttons;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        Qt::WindowModality modality = Qt::NonModal;
        bool inspected = false;
        // The alert blocks; look at it and dismiss it from inside its loop.
        QTimer::singleShot(0, this, [&] {
            QVERIFY(QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }));
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            seenTitle = box->text();
            seenInfo = box->informativeText();
            icon = box->icon();
            modality = box->windowModality();
            for (QAbstractButton* b : box->buttons())
                buttons.append(b->text());
            inspected = true;
            box->buttons().constFirst()->click();
        });
        MessageBoxAlert alert;
        alert.showWarning(u"Korvan 无法完成操作"_s, u"boom"_s, u"知道了"_s);
        QVERIFY(inspected);
        QCOMPARE(seenTitle, u"Korvan 无法完成操作"_s);
        QCOMPARE(seenInfo, u"boom"_s);
        QCOMPARE(icon, QMessageBox::Warning);
        QCOMPARE(modality, Qt::ApplicationModal);
        QCOMPARE(buttons, QStringList{u"知道了"_s});
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    void urlOpenerHandsUrlToDesktop() {
        UrlSink sink;
        QDesktopServices::setUrlHandler(u"http"_s, &sink, "take");
        DesktopUrlOpener().open(QUrl(u"http://127.0.0.1:8796"_s));
        QDesktopServices::unsetUrlHandler(u"http"_s);
        QCOMPARE(sink.urls, QList<QUrl>{QUrl(u"http://127.0.0.1:8796"_s)});
    }

    void preferencesPersist() {
        QTemporaryDir dir;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        QCoreApplication::setOrganizationName(u"KorvanTest"_s);
        QCoreApplication::setApplicationName(u"tst_DesktopServices"_s);
        const QString key = u"didConfigureLoginItem"_s;
        QVERIFY(!SettingsPreferences().boolValue(key));
        SettingsPreferences().setBoolValue(key, true);
        QVERIFY(SettingsPreferences().boolValue(key));
        QVERIFY(QFile::exists(dir.path() + u"/KorvanTest/tst_DesktopServices.conf"_s));
        SettingsPreferences().setBoolValue(key, false);
        QVERIFY(!SettingsPreferences().boolValue(key));
    }
};

QTEST_MAIN(DesktopServicesTest)
#include "tst_DesktopServices.moc"
