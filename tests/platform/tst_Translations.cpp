// Qt's own messages come in Simplified Chinese whatever the user's locale:
// a refused connection reads as Qt's catalogue has it.
#include "platform/Translations.h"

#include <QLibraryInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTranslator>

using namespace Qt::StringLiterals;

class TranslationsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void qtMessagesInChinese() {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QVERIFY(Translations::installQtTranslations());
        QTranslator qt;
        QVERIFY(qt.load(u"qtbase_zh_CN"_s, QLibraryInfo::path(QLibraryInfo::TranslationsPath)));
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(QTest::qWaitFor(
            [&] { return socket.error() != QAbstractSocket::UnknownSocketError; }, 10000));
        QCOMPARE(socket.errorString(), qt.translate("QNativeSocketEngine", "Connection refused"));
    }
};

QTEST_GUILESS_MAIN(TranslationsTest)
#include "tst_Translations.moc"
