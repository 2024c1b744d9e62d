// The pairing window, offscreen, typed into and pressed like a user would,
// against recording services that complete an attempt when the test says so.
#include "KorvanConfig.h"
#include "core/PairingLink.h"
#include "core/PairingTexts.h"
#include "fakes/FakePlatform.h"
#include "pairing/BusyIndicator.h"
#include "pairing/PairingWindowController.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;
using Texts = QStringList;

class PairingWindowTest : public QObject {
    Q_OBJECT

    FakeServices services_;
    std::unique_ptr<PairingWindowController> c_;
    int paired_ = 0;
    QStringList changes_; // enabled changes of the button, shows and hides of the spinner

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
    void fireCloseTimer() {
        QTimer* timer = c_->findChild<QTimer*>();
        QCOMPARE(timer->interval(), 1100);
        QVERIFY(timer->isActive() && timer->isSingleShot());
        QTimerEvent event(timer->timerId());
        QCoreApplication::sendEvent(timer, &event);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        const auto type = event->type();
        if (type == QEvent::EnabledChange || type == QEvent::Show || type == QEvent::Hide)
            changes_ << QString::number(type);
        return QObject::eventFilter(watched, event);
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
        QCOMPARE(window->minimumSize(), QSize(470, 390));
        QCOMPARE(window->maximumSize(), QSize(470, 390));
        QVERIFY(window->windowFlags().testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!window->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        QStringList labels;
        for (const QLabel* label : window->findChildren<QLabel*>())
            labels << label->text();
        using namespace PairingTexts;
        QCOMPARE(labels.mid(1), (Texts{title, subtitle, hubCaption, codeCaption, prompt}));
        QCOMPARE(c_->hubField()->text(), korvan::defaultHubURL);
        QCOMPARE(c_->hubField()->placeholderText(), korvan::defaultHubURL);
        QCOMPARE(c_->pairCodeField()->placeholderText(), codePlaceholder);
        QCOMPARE(c_->connectButton()->text(), connectButton);
        QVERIFY(c_->connectButton()->isDefault());
        c_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QVERIFY(!c_->progressIndicator()->isVisible());
        QCOMPARE(window->focusWidget(), c_->pairCodeField());
        const QRect button = c_->connectButton()->geometry();
        QCOMPARE(button, QRect(34, button.top(), 470 - 2 * 34, 36));
        QVERIFY(window->rect().contains(button));
    }

    void emptyCodeIsNotSent_data() {
        QTest::addColumn<QString>("typed");
        QTest::newRow("nothing") << QString();
        QTest::newRow("only blanks") << u"  \u3000 "_s;
    }
    void emptyCodeIsNotSent() {
        QFETCH(QString, typed);
        attempt(u"https://h.example"_s, typed, true);
        QCOMPARE(status(), PairingTexts::emptyCode);
        QVERIFY(!c_->isInstalling() && c_->connectButton()->isEnabled());
        QCOMPARE(c_->window()->focusWidget(), c_->pairCodeField());
        QCOMPARE(c_->pairCodeField()->text(), typed);
        QCOMPARE(services_.enrollments.size(), 0);
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
        QVERIFY(locked());
        services_.progress(u"step"_s);
        QCOMPARE(status(), u"step"_s);
        QVERIFY(!c_->window()->close());
        QVERIFY(c_->window()->isVisible());
        QTest::mouseClick(c_->connectButton(), Qt::LeftButton);
        QTest::keyClick(c_->pairCodeField(), Qt::Key_Return);
        c_->connectMac();
        QCOMPARE(services_.enrollments,
                 (QList<QPair<QString, QString>>{{u"https://h.example/"_s, u"ABCD-EFGH-IJKL"_s}}));
        QVERIFY(services_.completeNext());
        QCOMPARE(status(), PairingTexts::success);
        QCOMPARE(colour(), PairingWindowController::successColor());
        QVERIFY(c_->pairCodeField()->text().isEmpty());
        QCOMPARE(paired_, 1);
        QVERIFY(c_->connectButton()->isEnabled() && c_->hubField()->isEnabled() &&
                c_->pairCodeField()->isEnabled() && c_->windowShouldClose());
        QVERIFY(!c_->progressIndicator()->isVisible() && !c_->progressIndicator()->isAnimating());
        // Reopened before the delayed close: the already-paired line, still green.
        c_->show();
        QCOMPARE(status(), PairingTexts::alreadyPaired);
        QCOMPARE(colour(), PairingWindowController::successColor());
        fireCloseTimer();
        QVERIFY(!c_->window()->isVisible());
    }

    void rejectedAtOncePassesThroughBothStates() {
        services_.enrollAtOnce = true;
        services_.result = {{}, u"bad hub"_s, 1};
        c_->show();
        c_->connectButton()->installEventFilter(this);
        c_->progressIndicator()->installEventFilter(this);
        attempt(u"x"_s, u"abcd"_s);
        c_->connectButton()->removeEventFilter(this);
        c_->progressIndicator()->removeEventFilter(this);
        const QString off = QString::number(QEvent::EnabledChange);
        QCOMPARE(changes_,
                 (Texts{off, QString::number(QEvent::Show), QString::number(QEvent::Hide), off}));
        QCOMPARE(status(), u"bad hub"_s);
        QVERIFY(!c_->isInstalling());
    }

    void failedAttemptKeepsFields_data() {
        QTest::addColumn<CommandResult>("result");
        QTest::addColumn<QString>("line");
        QTest::newRow("installer exits 3")
            << CommandResult{{}, u"rejected\n"_s, 3} << u"rejected"_s;
        QTest::newRow("exit 0 but not paired")
            << CommandResult{u" installed "_s, {}, 0} << u"installed"_s;
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
        QCOMPARE(c_->pairCodeField()->text(), u"wxyz"_s);
        QCOMPARE(paired_, 0);
        QVERIFY(c_->window()->close()); // closing only hides it
        c_->show();
        QCOMPARE(c_->pairCodeField()->text(), u"wxyz"_s);
        QCOMPARE(status(), PairingTexts::prompt);
        // The next attempt's progress keeps the colour of the last result.
        services_.result = {};
        services_.pairOnSuccess = true;
        QTest::mouseClick(c_->connectButton(), Qt::LeftButton);
        services_.progress(u"again"_s);
        QCOMPARE(colour(), PairingWindowController::failureColor());
        QVERIFY(services_.completeNext());
        QCOMPARE(colour(), PairingWindowController::successColor());
    }

    void longFailureIsCutToThreeLines() {
        QString words;
        for (int i = 0; i < 40; ++i)
            words += u"word%1 "_s.arg(i);
        services_.result = {{}, words, 5};
        attempt(u"https://h.example"_s, u"abcd"_s);
        QVERIFY(services_.completeNext());
        QLabel* label = c_->statusLabel();
        QApplication::processEvents();
        const QMargins m = label->contentsMargins();
        const int threeLines = 3 * label->fontMetrics().lineSpacing() + m.top() + m.bottom();
        QVERIFY(label->heightForWidth(label->width()) > threeLines);
        QVERIFY(label->height() <= threeLines);
        QVERIFY(c_->window()->rect().contains(c_->connectButton()->geometry()));
    }

    void linkFillsFields_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("codeFocused");
        QTest::newRow("both") << u"korvan://p?hub=http://h:1&code=ab-cd"_s << false;
        QTest::newRow("empty values change nothing") << u"korvan://p?hub=&code="_s << true;
    }
    void linkFillsFields() {
        QFETCH(QString, link);
        QFETCH(bool, codeFocused);
        c_->hubField()->setText(u"https://before.example"_s);
        c_->hubField()->setFocus();
        const PairingFields expected =
            PairingLink::prefill({c_->hubField()->text(), QString()}, QUrl(link));
        c_->show(QUrl(link));
        QCOMPARE(c_->hubField()->text(), expected.hub);
        QCOMPARE(c_->pairCodeField()->text(), expected.code);
        QCOMPARE(c_->window()->focusWidget() == c_->pairCodeField(), codeFocused);
        QVERIFY(c_->window()->isVisible());
    }
};

QTEST_MAIN(PairingWindowTest)
#include "tst_pairingwindow.moc"
