// The pairing window, offscreen, typed into and pressed like a user would,
// against recording services that complete an attempt when the test says so.
#include "KorvanConfig.h"
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
    Texts changes_; // of the button's enabled state and the spinner's visibility

    QColor colour() const { return c_->statusLabel()->palette().color(QPalette::WindowText); }
    QString status() const { return c_->statusLabel()->text(); }
    bool locked() const {
        return !c_->connectButton()->isEnabled() && !c_->hubField()->isEnabled() &&
               !c_->pairCodeField()->isEnabled() && c_->progressIndicator()->isVisible() &&
               c_->progressIndicator()->isAnimating() && !c_->windowShouldClose();
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
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::EnabledChange)
            changes_ << (static_cast<QWidget*>(watched)->isEnabled() ? u"on"_s : u"off"_s);
        else if (event->type() == QEvent::Show || event->type() == QEvent::Hide)
            changes_ << (event->type() == QEvent::Show ? u"shown"_s : u"hidden"_s);
        return false;
    }

private Q_SLOTS:
    void init() {
        services_ = FakeServices();
        paired_ = 0;
        c_ = std::make_unique<PairingWindowController>(services_, [this] { ++paired_; });
    }

    void startsHiddenWithTheFormInPlace() {
        QWidget* window = c_->window();
        QVERIFY(!window->isVisible());
        QCOMPARE(window->windowTitle(), PairingTexts::windowTitle);
        Texts labels;
        QList<int> pixels; // the sizes as given, never Qt's points
        for (const QLabel* label : window->findChildren<QLabel*>())
            labels << label->text(), pixels << label->font().pixelSize();
        pixels << c_->statusLabel()->font().pixelSize() << c_->pairCodeField()->font().pixelSize();
        using namespace PairingTexts;
        QCOMPARE(labels.mid(1), (Texts{title, subtitle, hubCaption, codeCaption}));
        QCOMPARE(pixels.mid(1), (QList<int>{24, 13, 12, 12, 12, 16}));
        QCOMPARE(status(), prompt);
        QCOMPARE(c_->hubField()->text(), korvan::defaultHubURL);
        QCOMPARE(c_->hubField()->placeholderText(), korvan::defaultHubURL);
        QCOMPARE(c_->pairCodeField()->placeholderText(), codePlaceholder);
        QCOMPARE(c_->connectButton()->text(), connectButton);
        c_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->focusWidget(), c_->pairCodeField());
        QCOMPARE(window->size(), QSize(470, 390)); // fixed, the button inside with its margins
        QCOMPARE(c_->connectButton()->geometry(),
                 QRect(34, c_->connectButton()->y(), 470 - 2 * 34, 36));
    }

    void emptyCodeIsNotSent() {
        for (const QString& typed : {QString(), u"  \u3000 "_s}) {
            attempt(u"https://h.example"_s, typed, true);
            QCOMPARE(status(), PairingTexts::emptyCode);
            QVERIFY(!c_->isInstalling() && c_->connectButton()->isEnabled());
            QCOMPARE(c_->window()->focusWidget(), c_->pairCodeField());
            QCOMPARE(services_.enrollments, Texts());
        }
    }

    void attemptRunsOnceAndPairs_data() {
        QTest::addColumn<bool>("byReturn");
        QTest::newRow("mouse") << false;
        QTest::newRow("return") << true;
    }
    void attemptRunsOnceAndPairs() {
        QFETCH(bool, byReturn);
        attempt(u" \u3000https://h.example/ "_s, u"  abcd-efgh-ijkl "_s, byReturn);
        QVERIFY(locked());
        c_->show(QUrl(u"korvan://p?code=second"_s)); // fills the fields, the attempt goes on
        QCOMPARE(c_->pairCodeField()->text(), u"SECOND"_s);
        QCOMPARE(status(), PairingTexts::prompt);
        services_.progress(u"step"_s);
        QCOMPARE(status(), u"step"_s);
        QVERIFY(locked() && !c_->window()->close() && c_->window()->isVisible());
        QTest::mouseClick(c_->connectButton(), Qt::LeftButton);
        QTest::keyClick(c_->pairCodeField(), Qt::Key_Return);
        c_->connectMac();
        QCOMPARE(services_.enrollments, (Texts{u"https://h.example/"_s, u"ABCD-EFGH-IJKL"_s}));
        QVERIFY(services_.completeNext());
        QCOMPARE(status(), PairingTexts::success);
        QCOMPARE(colour(), PairingWindowController::successColor());
        QCOMPARE(c_->pairCodeField()->text(), QString());
        QCOMPARE(paired_, 1);
        QVERIFY(c_->connectButton()->isEnabled() && c_->hubField()->isEnabled() &&
                c_->pairCodeField()->isEnabled() && c_->windowShouldClose());
        QVERIFY(!c_->progressIndicator()->isVisible() && !c_->progressIndicator()->isAnimating());
        c_->show(); // reopened before the delayed close: still green, and closed all the same
        QCOMPARE(status(), PairingTexts::alreadyPaired);
        QCOMPARE(colour(), PairingWindowController::successColor());
        QTimer* closeTimer = c_->findChild<QTimer*>();
        QVERIFY(closeTimer->isActive() && closeTimer->isSingleShot());
        QCOMPARE(closeTimer->interval(), 1100);
        QTimerEvent event(closeTimer->timerId());
        QCoreApplication::sendEvent(closeTimer, &event);
        QVERIFY(!c_->window()->isVisible());
    }

    void rejectedAtOncePassesThroughBothStates() {
        services_.enrollAtOnce = true;
        services_.result = {{}, u"bad hub"_s, 1};
        c_->show();
        c_->connectButton()->installEventFilter(this);
        c_->progressIndicator()->installEventFilter(this);
        attempt(u"x"_s, u"abcd"_s);
        QCOMPARE(changes_, (Texts{u"off"_s, u"shown"_s, u"hidden"_s, u"on"_s}));
        QCOMPARE(status(), u"bad hub"_s);
        QCOMPARE(colour(), PairingWindowController::failureColor());
    }

    // Installer output and a script's error text, in the status line and in the alert.
    void textFromOutsideShowsAsText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("lines");       // negative: that many, the last one cut with "…"
        QTest::addColumn<QString>("pattern"); // of each line but a cut one
        const QString markup = u"<b>配对成功</b> &amp; <a href='x'>y</a>"_s;
        QTest::newRow("markup") << markup << 1 << QRegularExpression::escape(markup);
        QTest::newRow("one long token") << QString(400, u'k') << -3 << u"k+"_s;
        QTest::newRow("words") << u"word "_s.repeated(60) << -3 << u"(word ?)+"_s;
        QTest::newRow("three lines") << u"a\nb\nc"_s << 3 << u"[abc]"_s;
        QTest::newRow("four lines") << u"a\nb\nc\nd"_s << -3 << u"[abc]"_s;
    }
    void textFromOutsideShowsAsText() {
        QFETCH(QString, text);
        QFETCH(int, lines);
        QFETCH(QString, pattern);
        attempt(u"h"_s, u"c"_s);
        services_.progress(text);
        const WrappingLabel* label = c_->statusLabel();
        const Texts shown = label->displayedLines();
        QCOMPARE(shown.size(), qAbs(lines));
        QCOMPARE(shown.last().endsWith(u'…'), lines < 0);
        const QRegularExpression whole(QRegularExpression::anchoredPattern(pattern));
        for (qsizetype i = 0; i < shown.size(); ++i) {
            QVERIFY(label->fontMetrics().horizontalAdvance(shown[i]) <= label->width());
            const bool cut = lines < 0 && i == shown.size() - 1;
            QVERIFY2(cut || whole.match(shown[i]).hasMatch(), qPrintable(shown[i]));
        }
        QCOMPARE(label->text(), text);
        QCOMPARE(label->accessibleName(), text);
        const auto plain = [](const QString& t) {
            return Qt::mightBeRichText(t) ? QTextDocumentFragment::fromHtml(t).toPlainText() : t;
        };
        Texts seen{plain(label->toolTip())}; // and as each label of the alert renders its text
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            for (const QLabel* l : box->findChildren<QLabel*>())
                seen << (l->textFormat() == Qt::PlainText ? l->text() : plain(l->text()));
            box->close();
        });
        MessageBoxAlert().showWarning(u"m"_s, text, u"b"_s);
        QCOMPARE(seen.count(text), 2);
    }

    void failedAttemptKeepsFields_data() {
        QTest::addColumn<CommandResult>("result");
        QTest::addColumn<QString>("line");
        QTest::newRow("installer exits 3") << CommandResult{{}, u"no\n"_s, 3} << u"no"_s;
        QTest::newRow("exit 0, not paired") << CommandResult{u" done "_s, {}, 0} << u"done"_s;
        QTest::newRow("silent") << CommandResult{} << PairingTexts::genericFailure;
    }
    void failedAttemptKeepsFields() {
        QFETCH(CommandResult, result);
        services_.result = result;
        services_.pairOnSuccess = false;
        attempt(u"https://h.example"_s, u"wxyz"_s, true);
        QVERIFY(services_.completeNext());
        QTEST(status(), "line");
        QCOMPARE(colour(), PairingWindowController::failureColor());
        QCOMPARE(paired_, 0);
        QVERIFY(c_->window()->close()); // closing only hides it
        c_->show();
        QCOMPARE(c_->pairCodeField()->text(), u"wxyz"_s);
        QCOMPARE(status(), PairingTexts::prompt);
        services_ = FakeServices(); // the next attempt's progress keeps the last colour
        QTest::mouseClick(c_->connectButton(), Qt::LeftButton);
        services_.progress(u"again"_s);
        QCOMPARE(colour(), PairingWindowController::failureColor());
        QVERIFY(services_.completeNext());
        QCOMPARE(colour(), PairingWindowController::successColor());
    }
};

QTEST_MAIN(PairingWindowTest)
#include "tst_pairingwindow.moc"
