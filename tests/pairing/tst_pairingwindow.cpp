// The pairing window, offscreen on a screen of device pixel ratio 2, driven like a user would
// against recording services. Its parts are found by their object names.
#include "core/PairingTexts.h"
#include "fakes/FakePlatform.h"
#include "pairing/BusyIndicator.h"
#include "pairing/PairingWindowController.h"
#include "pairing/WrappingLabel.h"
#include "platform/Alert.h"

#include <QApplication>
#include <QElapsedTimer>
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

    static QWidget* window() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == u"pairingWindow")
                return w;
        return nullptr;
    }
    template <typename T = QWidget>
    static T* part(const char* name) {
        return window()->findChild<T*>(QLatin1StringView(name));
    }
    static QLineEdit* codeField() { return part<QLineEdit>("pairCodeField"); }
    static WrappingLabel* statusLine() { return part<WrappingLabel>("statusLabel"); }
    static QColor colour() { return statusLine()->palette().color(QPalette::WindowText); }
    static QString status() { return statusLine()->text(); }
    void attempt(const QString& hub, const QString& code, bool byReturn = false) {
        c_->show();
        part<QLineEdit>("hubField")->setText(hub);
        codeField()->setText(code);
        if (byReturn)
            QTest::keyClick(codeField(), Qt::Key_Return);
        else
            QTest::mouseClick(part("connectButton"), Qt::LeftButton);
    }

public:
    // Before the application object: a blurred icon shows only on a dense screen.
    static void initMain() { qputenv("QT_SCALE_FACTOR", "2"); }

private Q_SLOTS:
    void init() {
        services_ = FakeServices();
        paired_ = 0;
        c_ = std::make_unique<PairingWindowController>(services_, [this] { ++paired_; });
    }

    // What the window says and where typing goes before anything is typed; hiding it never ends
    // the program.
    void texts() {
        c_->show();
        Texts shown{window()->windowTitle(), part<QLineEdit>("hubField")->text(),
                    codeField()->placeholderText(), part<QPushButton>("connectButton")->text(),
                    status()};
        for (const QLabel* label : window()->findChildren<QLabel*>())
            shown << label->text();
        QCOMPARE(shown,
                 (Texts{u"Korvan Controller"_s, u"https://hub.korvan.example"_s,
                        u"ABCD-EFGH-IJKL"_s, u"连接这台 Mac"_s, u"输入移动端生成的一次性配对码。"_s,
                        u"连接 Korvan"_s, u"把这台 Mac 与当前 Korvan 账号一对一绑定。"_s,
                        u"Korvan 地址"_s, u"一次性配对码"_s}));
        QCOMPARE(window()->focusWidget(), codeField());
        QCOMPARE(window()->testAttribute(Qt::WA_QuitOnClose), false);
    }

    // One device pixel per square: any scaling on the way blurs the pattern.
    void headerIconIsSharp() {
        QImage board(112, 112, QImage::Format_RGB32);
        for (int y = 0; y < board.height(); ++y)
            for (int x = 0; x < board.width(); ++x)
                board.setPixel(x, y, (x + y) % 2 ? 0xff000000 : 0xffffffff);
        QApplication::setWindowIcon(QIcon(QPixmap::fromImage(board)));
        board.setDevicePixelRatio(2); // what a sharp 56-pixel icon is on this screen
        c_->show();
        const QImage drawn = part("headerIcon")->grab().toImage();
        QCOMPARE(drawn.convertToFormat(QImage::Format_RGB32), board);
    }

    void emptyCodeSendsNothing() {
        attempt(u"https://h.example"_s, u"  \u3000 "_s); // the click takes the focus
        QCOMPARE(status(), u"请先输入一次性配对码。"_s);
        QCOMPARE(services_.enrollments, Texts());
        QCOMPARE(window()->focusWidget(), codeField());
    }

    void attemptSendsTrimmedUpperCasedCode() {
        attempt(u" \u3000https://h.example/ "_s, u"  abcd-efgh-ijkl "_s);
        c_->connectMac(); // a second press while the first runs
        QCOMPARE(services_.enrollments, (Texts{u"https://h.example/"_s, u"ABCD-EFGH-IJKL"_s}));
        QCOMPARE(codeField()->text(), u"  abcd-efgh-ijkl "_s);
    }

    // The two states: controls enabled, spinner stopped and closing allowed only when idle.
    void stateFollowsTheAttempt_data() {
        QTest::addColumn<bool>("finished"); // the attempt has failed, else it still runs
        QTest::newRow("installing") << false;
        QTest::newRow("after a failure") << true;
    }
    void stateFollowsTheAttempt() {
        QFETCH(bool, finished);
        services_.result.status = 1;
        attempt(u"h"_s, u"c"_s);
        if (finished)
            services_.completeAll();
        QCOMPARE(part("connectButton")->isEnabled(), finished);
        QCOMPARE(part("hubField")->isEnabled(), finished);
        QCOMPARE(codeField()->isEnabled(), finished);
        QCOMPARE(part<BusyIndicator>("progressIndicator")->isAnimating(), !finished);
        QCOMPARE(window()->close(), finished); // by the window's close button
    }

    void escapeWhileInstallingIsRefused() {
        attempt(u"h"_s, u"c"_s);
        QTest::keyClick(window(), Qt::Key_Escape);
        QCOMPARE(window()->isVisible(), true);
    }

    void successHidesTheWindowOnceAfterTheDelay() {
        attempt(u"h"_s, u"c"_s);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(services_.completeNext());
        QCOMPARE(status(), u"配对成功，Korvan Remote 正在启动。"_s);
        QCOMPARE(colour(), PairingWindowController::successColor());
        QCOMPARE(codeField()->text(), QString());
        QCOMPARE(paired_, 1);
        QCOMPARE(window()->isVisible(), true); // up for the delay first
        c_->show(); // reopened before the delayed close: still green, and closed all the same
        QCOMPARE(status(), u"这台 Mac 已经配对。只有管理员解除旧绑定后，新的配对码才会生效。"_s);
        QVERIFY(QTest::qWaitFor([] { return !window()->isVisible(); }, 5000));
        QCOMPARE_GE(clock.elapsed(), PairingWindowController::closeDelayMs);
        QCOMPARE(c_->findChild<QTimer*>(u"closeTimer"_s)->isActive(), false); // nothing more
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
        const WrappingLabel* label = statusLine();
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
            << CommandResult{u"o"_s, u" \n"_s, 1} << false << u"配对失败，请确认配对码仍然有效。"_s;
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
        QCOMPARE(paired_, 0);
        QVERIFY(window()->close()); // closing only hides it
        c_->show();
        QCOMPARE(codeField()->text(), u"wxyz"_s);
    }
};

QTEST_MAIN(PairingWindowTest)
#include "tst_pairingwindow.moc"
