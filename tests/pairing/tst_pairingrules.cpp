// The korvan link parser and the rules behind the pairing window's lines.
#include "pairing/PairingLink.h"
#include "pairing/PairingOutcome.h"
#include "pairing/PairingTexts.h"

#include "KorvanConfig.h"

#include <QTest>
#include <QTextBoundaryFinder>

using OptString = std::optional<QString>;
Q_DECLARE_METATYPE(OptString)

namespace {

int graphemeCount(const QString& s) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s);
    int count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

} // namespace

class PairingRulesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void links_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("isKorvan");
        QTest::addColumn<OptString>("hub");
        QTest::addColumn<OptString>("code");
        const OptString none;
        QTest::newRow("both") << "korvan://pair?hub=https://h.example&code=ab-cd" << true
                              << OptString(u"https://h.example"_qs) << OptString(u"ab-cd"_qs);
        QTest::newRow("upper-case scheme")
            << "KORVAN://pair?code=x" << true << none << OptString(u"x"_qs);
        QTest::newRow("mixed-case scheme, no host")
            << "KorVan:?hub=h" << true << OptString(u"h"_qs) << none;
        QTest::newRow("no query") << "korvan://pair" << true << none << none;
        QTest::newRow("empty query") << "korvan://pair?" << true << none << none;
        QTest::newRow("empty values") << "korvan://p?hub=&code=" << true << none << none;
        QTest::newRow("items without a value") << "korvan://p?hub&code" << true << none << none;
        QTest::newRow("percent-encoding")
            << "korvan://p?hub=http%3A%2F%2F127.0.0.1%3A8080%2Fa%20b&code=%E9%85%8D%2B1" << true
            << OptString(u"http://127.0.0.1:8080/a b"_qs) << OptString(u"配+1"_qs);
        QTest::newRow("plus is not a space")
            << "korvan://p?code=a+b" << true << none << OptString(u"a+b"_qs);
        QTest::newRow("spaces kept")
            << "korvan://p?hub=%20h%20" << true << OptString(u" h "_qs) << none;
        QTest::newRow("names are exact")
            << "korvan://p?HUB=a&Code=b&hubx=c" << true << none << none;
        QTest::newRow("other items ignored")
            << "korvan://p?x=1&code=c&y=2" << true << none << OptString(u"c"_qs);
        QTest::newRow("last value wins")
            << "korvan://p?code=first&code=second" << true << none << OptString(u"second"_qs);
        QTest::newRow("an empty repeat keeps the value")
            << "korvan://p?code=kept&code=" << true << none << OptString(u"kept"_qs);
        QTest::newRow("value not UTF-8 is unreadable")
            << "korvan://p?code=%FF&hub=h" << true << OptString(u"h"_qs) << none;
        QTest::newRow("web address") << "https://h.example/?hub=x&code=y" << false
                                     << OptString(u"x"_qs) << OptString(u"y"_qs);
        QTest::newRow("korvan-like scheme")
            << "korvanx://p?code=y" << false << none << OptString(u"y"_qs);
    }
    void links() {
        QFETCH(QString, link);
        QFETCH(bool, isKorvan);
        QFETCH(OptString, hub);
        QFETCH(OptString, code);
        const QUrl url(link);
        QCOMPARE(PairingLink::isKorvanLink(url), isKorvan);
        const PairingLinkFields fields = PairingLink::parse(url);
        QCOMPARE(fields.hub, hub);
        QCOMPARE(fields.code, code);
    }

    void unreadableLinkYieldsNothing() {
        const PairingLinkFields fields = PairingLink::parse(QUrl());
        QVERIFY(!fields.hub && !fields.code);
        const QUrl broken(QStringLiteral("korvan://[bad?code=x"));
        QVERIFY(!broken.isValid());
        QVERIFY(!PairingLink::parse(broken).code);
    }

    void firstKorvanLinkIsChosen() {
        const QList<QUrl> urls{QUrl(u"https://web.example"_qs), QUrl(u"no-scheme"_qs),
                               QUrl(u"KORVAN://second?code=2"_qs), QUrl(u"korvan://third"_qs)};
        QCOMPARE(PairingLink::firstKorvanLink(urls), std::optional<QUrl>(urls[2]));
        QCOMPARE(PairingLink::firstKorvanLink({QUrl(u"https://web.example"_qs)}),
                 std::optional<QUrl>());
    }

    void codes_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<OptString>("sent");
        QTest::newRow("trimmed and upper-cased") << " \tabcd-efgh\n" << OptString(u"ABCD-EFGH"_qs);
        QTest::newRow("ideographic space") << "\u3000x1\u3000" << OptString(u"X1"_qs);
        QTest::newRow("no Turkish dotted I") << "i" << OptString(u"I"_qs);
        QTest::newRow("sharp s expands") << "straße" << OptString(u"STRASSE"_qs);
        QTest::newRow("inner blanks kept") << "ab cd" << OptString(u"AB CD"_qs);
        QTest::newRow("empty") << "" << OptString();
        QTest::newRow("blanks only") << " \r\n\u2028 " << OptString();
    }
    void codes() {
        QFETCH(QString, typed);
        QFETCH(OptString, sent);
        QCOMPARE(PairingOutcome::normalizedCode(typed), sent);
    }

    void hubIsOnlyTrimmed() {
        QCOMPARE(PairingOutcome::normalizedHub(u" \nHTTPS://h.example/// \u3000"_qs),
                 u"HTTPS://h.example///"_qs);
    }

    void failureLines_data() {
        QTest::addColumn<CommandResult>("result");
        QTest::addColumn<QString>("line");
        const QString generic = PairingTexts::genericFailure;
        QTest::newRow("error preferred") << CommandResult{u"out"_qs, u" err \n"_qs, 3} << u"err"_qs;
        QTest::newRow("output when error empty")
            << CommandResult{u"\n out \n"_qs, {}, 0} << u"out"_qs;
        QTest::newRow("blank error hides output")
            << CommandResult{u"out"_qs, u" \n\t"_qs, 1} << generic;
        QTest::newRow("both empty") << CommandResult{{}, {}, 0} << generic;
        QTest::newRow("blank output") << CommandResult{u"\r\n"_qs, {}, 2} << generic;
        const QString ascii = QString(10, u'a') + QString(240, u'b');
        QTest::newRow("last 240 of ascii")
            << CommandResult{{}, ascii + u"\n"_qs, 1} << QString(240, u'b');
        QTest::newRow("exactly 240 whole")
            << CommandResult{{}, QString(240, u'c'), 1} << QString(240, u'c');
        QString han;
        for (int i = 0; i < 300; ++i)
            han += QChar(0x4E00 + i);
        QTest::newRow("multi-byte") << CommandResult{{}, han, 1} << han.right(240);
        // Each "e" + U+0301 is one character of two code units; each emoji a
        // surrogate pair. A cut by code units would split them.
        QString combining;
        for (int i = 0; i < 250; ++i)
            combining += u"e\u0301"_qs;
        QTest::newRow("combining marks") << CommandResult{{}, combining, 1} << combining.right(480);
        QString emoji = u"x"_qs;
        for (int i = 0; i < 240; ++i)
            emoji += u"\U0001F600"_qs;
        QTest::newRow("surrogate pairs") << CommandResult{{}, emoji, 1} << emoji.mid(1);
        QString flags;
        for (int i = 0; i < 241; ++i)
            flags += u"\U0001F1E8\U0001F1F3"_qs; // one flag, four code units
        QTest::newRow("regional indicator pairs") << CommandResult{{}, flags, 1} << flags.mid(4);
    }
    void failureLines() {
        QFETCH(CommandResult, result);
        QFETCH(QString, line);
        const QString shown = PairingOutcome::failureLine(result);
        QCOMPARE(shown, line);
        QVERIFY(graphemeCount(shown) <= 240);
    }

    void successLineAndDefaultHub() {
        QCOMPARE(PairingOutcome::successLine(), u"配对成功，Korvan Remote 正在启动。"_qs);
        const QUrl hub(korvan::defaultHubURL, QUrl::StrictMode);
        QVERIFY(hub.isValid());
        QCOMPARE(hub.scheme(), u"https"_qs);
        QVERIFY(!hub.host().isEmpty());
        QVERIFY(hub.path().isEmpty() && !hub.hasQuery() && !hub.hasFragment());
    }
};

QTEST_GUILESS_MAIN(PairingRulesTest)
#include "tst_pairingrules.moc"
