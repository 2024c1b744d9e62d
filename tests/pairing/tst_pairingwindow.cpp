// The pairing window, offscreen, driven like a user would against recording services.
#include "core/PairingTexts.h"
#include "fakes/FakePlatform.h"
#include "pairing/BusyIndicator.h"
#include "pairing/PairingWindowController.h"
#include "pairing/WrappingLabel.h"
#include "platform/Alert.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextDocumentFragment>

using namespace Qt::StringLiterals;
using Texts = QStringList;

class PairingWindowTest : public QObject {
    Q_OBJECT

    FakeServices services_;
    std::unique_ptr<PairingWindowController> c_;
    int paired_ = 0;

    QColor colour() const { return c_->statusLabel()->palette().color(QPalette::WindowText); }
    QString status() const { return c_->statusLabel()->text(); }
    // Button, hub field and code field enabled; spinner shown, turning; closable.
    QString controls() const {
        QString bits;
        for (bool on : {c_->connectButton()->isEnabled(), c_->hubField()->isEnabled(),
                        c_->pairCodeField()->isEnabled(), c_->progressIndicator()->isVisible(),
                        c_->progressIndicator()->isAnimating(), c_->windowShouldClose()})
            bits += on ? u'1' : u'0';
        return bits;
    }
    void attempt(const QString& hub, const QString& code, bool byReturn = false) {
        c_->show();
        c_->hubField()->setText(hub);
        c_->pairCodeField()->setText(code);
        if (byReturn)
            QTest::keyClick(c_->pairCodeField(), Qt::Key_Return);
        else
            QTest::mouseClick(c_->connectButton(), Qt::LeftButton);
    }

private Q_SLOTS:
    void init() {
        services_ = FakeServices();
        paired_ = 0;
        c_ = std::make_unique<PairingWindowController>(services_, [this] { ++paired_; });
    }

    void fontsInPixels() {
        QWidget* window = c_->window();
        QList<int> pixels; // font sizes as given, never Qt's points
        for (const QLabel* label : window->findChildren<QLabel*>())
            pixels << label->font().pixelSize();
        pixels << c_->statusLabel()->font().pixelSize() << c_->pairCodeField()->font().pixelSize();
        QCOMPARE(pixels, (QList<int>{-1, 24, 13, 12, 12, 12, 16}));
        QCOMPARE(status(), PairingTexts::prompt);
        c_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->focusWidget(), c_->pairCodeField());
    }

    void attemptRunsOnceAndPairs() {
        attempt(u"https://h.example"_s, u"  \u3000 "_s, true);
        QCOMPARE(status(), PairingTexts::emptyCode);
        QCOMPARE(controls(), u"111001"_s); // and nothing sent
        attempt(u" \u3000https://h.example/ "_s, u"  abcd-efgh-ijkl "_s);
        services_.progress(u"step"_s);
        QCOMPARE(status(), u"step"_s);
        QVERIFY(!c_->window()->close() && c_->window()->isVisible());
        QCOMPARE(controls(), u"000110"_s);
        c_->connectMac();
        QCOMPARE(services_.enrollments, (Texts{u"https://h.example/"_s, u"ABCD-EFGH-IJKL"_s}));
        QVERIFY(services_.completeNext());
        QCOMPARE(status(), PairingTexts::success);
        QCOMPARE(colour(), PairingWindowController::successColor());
        QCOMPARE(c_->pairCodeField()->text(), QString());
        QCOMPARE(paired_, 1);
        QCOMPARE(controls(), u"111001"_s);
        c_->show(); // reopened before the delayed close: still green, and closed all the same
        QCOMPARE(status(), PairingTexts::alreadyPaired);
        QTRY_VERIFY_WITH_TIMEOUT(!c_->window()->isVisible(), 5000);
    }

    // Installer output in the status line, and a script's error text in the alert.
    void textFromOutsideShowsAsText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown"); // a pattern of the lines drawn, joined by "|"
        const QString markup = u"<b>配对成功</b> &amp; <a href='x'>y</a>"_s;
        QTest::newRow("markup") << markup << QRegularExpression::escape(markup);
        QTest::newRow("one long token") << QString(400, u'k') << u"k+\\|k+\\|k+…"_s;
        QTest::newRow("words") << u"word "_s.repeated(60) << u"((word ?)+\\|){2}[word ]+…"_s;
        QTest::newRow("three lines") << u"a\nb\nc"_s << u"a\\|b\\|c"_s;
        QTest::newRow("four lines") << u"a\nb\nc\nd"_s << u"a\\|b\\|c…"_s;
    }
    void textFromOutsideShowsAsText() {
        QFETCH(QString, text);
        attempt(u"h"_s, u"c"_s);
        services_.progress(text);
        const WrappingLabel* label = c_->statusLabel();
        QFETCH(QString, shown);
        const QString drawn = label->displayedLines().join(u'|');
        QVERIFY2(drawn.contains(QRegularExpression(u"^(?:"_s + shown + u")$"_s)),
                 qPrintable(drawn));
        for (const QString& line : label->displayedLines())
            QVERIFY(label->fontMetrics().horizontalAdvance(line) <= label->width());
        const auto plain = [](const QString& t) {
            return Qt::mightBeRichText(t) ? QTextDocumentFragment::fromHtml(t).toPlainText() : t;
        };
        Texts seen{label->text(), label->accessibleName(), plain(label->toolTip())};
        MessageBoxAlert alert;
        int dismissals = 0;
        alert.showWarning(u"m"_s, text, u"b"_s, [&] { ++dismissals; });
        QWidget* box = QApplication::activeModalWidget();    // shown, and nothing waits for it
        for (const QLabel* l : box->findChildren<QLabel*>()) // as each label renders its text
            seen << (l->textFormat() == Qt::PlainText ? l->text() : plain(l->text()));
        box->close();
        QCOMPARE(seen.count(text), 4);
        QCOMPARE(dismissals, 1);
    }

    void failedAttemptKeepsFields_data() {
        QTest::addColumn<CommandResult>("result");
        QTest::addColumn<bool>("atOnce"); // on a paired machine, before installAndEnroll returns
        QTest::addColumn<QString>("line");
        QString flags;
        for (int i = 0; i < 241; ++i)
            flags += u"\U0001F1E8\U0001F1F3"_s; // one flag, four code units: the last 240 shown
        QTest::newRow("exit 0, not paired")
            << CommandResult{u" done "_s, {}, 0} << false << u"done"_s;
        QTest::newRow("rejected at once")
            << CommandResult{{}, u"bad hub"_s, 1} << true << u"bad hub"_s;
        QTest::newRow("blank error hides output")
            << CommandResult{u"o"_s, u" \n"_s, 1} << false << PairingTexts::genericFailure;
        QTest::newRow("flags") << CommandResult{{}, flags, 1} << false << flags.mid(4);
    }
    void failedAttemptKeepsFields() {
        QFETCH(CommandResult, result);
        QFETCH(bool, atOnce);
        services_.result = result;
        services_.enrollAtOnce = services_.paired = atOnce;
        services_.pairOnSuccess = false;
        attempt(u"https://h.example"_s, u"wxyz"_s, true);
        services_.completeAll();
        QTEST(status(), "line");
        QCOMPARE(colour(), PairingWindowController::failureColor());
        QCOMPARE(controls(), u"111001"_s); // busy before the call, idle again after
        QCOMPARE(paired_, 0);
        QVERIFY(c_->window()->close()); // closing only hides it
        c_->show();
        QCOMPARE(c_->pairCodeField()->text(), u"wxyz"_s);
    }
};

QTEST_MAIN(PairingWindowTest)
#include "tst_pairingwindow.moc"
