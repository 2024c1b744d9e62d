// The pairing window, offscreen, driven like a user would: typed into, pressed
// with the mouse and with Return, against a loopback hub whose installer
// writes the pairing file into a temporary service root.

#include "pairing/BusyIndicator.h"
#include "pairing/PairingWindowController.h"
#include "service/ServiceManager.h"
#include "support/LoopbackHttpServer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString kPrompt = QStringLiteral("输入移动端生成的一次性配对码。");
const QString kAlreadyPaired =
    QStringLiteral("这台 Mac 已经配对。只有管理员解除旧绑定后，新的配对码才会生效。");
const QString kEmptyCode = QStringLiteral("请先输入一次性配对码。");
const QString kSuccess = QStringLiteral("配对成功，Korvan Remote 正在启动。");
const QString kGenericFailure = QStringLiteral("配对失败，请确认配对码仍然有效。");
const QString kInvalidHub = QStringLiteral("Korvan 地址无效。");
const QString kDownloading = QStringLiteral("正在下载安装程序...");
const QString kDownloadFailed = QStringLiteral("无法从 Korvan 下载安装程序。");
const QString kInstalling = QStringLiteral("正在安装 Agent 与 Local Bridge...");

// The hub's installer. It records the code it was given, waits at the gate
// when the test has set one up, then behaves as the "mode" file says: by
// default it writes the pairing file like a real installer would.
const QByteArray kInstaller = R"sh(root="$KORVAN_APP_SUPPORT_DIR"
printf '%s\n' "$KORVAN_PAIR_CODE" >> "$root/codes.log"
if [ -p "$root/gate" ]; then read -r _ < "$root/gate"; fi
case "$(cat "$root/mode" 2>/dev/null)" in
  fail) echo "installer: pair code rejected" >&2; exit 3 ;;
  unpaired) echo "  installed without pairing  "; exit 0 ;;
  silent) exit 0 ;;
  long) for i in $(seq 1 60); do printf 'word%02d ' "$i"; done; exit 5 ;;
esac
mkdir -p "$root"
printf 'KORVAN_AGENT_HOST_ID=host-1\nKORVAN_AGENT_TOKEN=token-1\n' > "$root/.env"
echo paired
)sh";

enum class PressBy { mouse, returnKey };

QColor statusColor(const PairingWindowController& c) {
    return c.statusLabel()->palette().color(QPalette::WindowText);
}

// Records each enabled change of a widget and each show/hide of another, in
// the order they happen, to see states that come and go inside one call.
class TransitionLog : public QObject {
public:
    QStringList entries;

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (event->type() == QEvent::EnabledChange)
            entries << (widget->isEnabled() ? u"enabled"_s : u"disabled"_s);
        else if (event->type() == QEvent::Show)
            entries << u"spinner shown"_s;
        else if (event->type() == QEvent::Hide)
            entries << u"spinner hidden"_s;
        return false;
    }
};

// keyClicks takes Latin-1 only; other characters go in as key events that
// carry their text, as an input method would deliver them.
void typeInto(QLineEdit* field, const QString& text) {
    field->clear();
    for (const QChar c : text) {
        if (c.unicode() < 0x80)
            QTest::keyClicks(field, QString(c));
        else
            QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

} // namespace

class PairingWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void startsHiddenWithTheFormInPlace();
    void emptyCodeIsNotSent_data();
    void emptyCodeIsNotSent();
    void attemptRunsOnceAndPairs_data();
    void attemptRunsOnceAndPairs();
    void rejectedAddressPassesThroughBothStatesInOnePress_data();
    void rejectedAddressPassesThroughBothStatesInOnePress();
    void failedAttemptShowsRedLineAndKeepsFields_data();
    void failedAttemptShowsRedLineAndKeepsFields();
    void longFailureIsCutToThreeLines();
    void successClosesWindowEvenWhenReopened();
    void failureColourCarriesIntoNextAttempt();
    void linkDuringAttemptFillsFieldsAndAttemptContinues();
    void showFillsFieldsFromLink_data();
    void showFillsFieldsFromLink();

private:
    QString rootPath(const QString& name) const { return root_->filePath(name); }
    void setMode(const QByteArray& mode);
    void makeGate();
    bool openGate();
    QStringList sentCodes() const;
    void typeHub(const QString& hub);
    void typeCode(const QString& code);
    void press(PressBy how);
    bool waitUntilIdle() {
        return QTest::qWaitFor([this] { return !controller_->isInstalling(); }, 20000);
    }

    LoopbackHttpServer hub_;
    std::unique_ptr<QTemporaryDir> root_;
    std::unique_ptr<ServiceManager> manager_;
    std::unique_ptr<PairingWindowController> controller_;
    int pairedCalls_ = 0;
};

void PairingWindowTest::initTestCase() {
    QVERIFY(hub_.listen());
    hub_.serve("/agent/install.sh", kInstaller);
}

void PairingWindowTest::init() {
    root_ = std::make_unique<QTemporaryDir>();
    QVERIFY(root_->isValid());
    qputenv("KORVAN_APP_SUPPORT_DIR", QFile::encodeName(root_->path()));
    manager_ = std::make_unique<ServiceManager>(root_->path());
    pairedCalls_ = 0;
    controller_ = std::make_unique<PairingWindowController>(*manager_, [this] { ++pairedCalls_; });
}

void PairingWindowTest::cleanup() {
    // An installer still waiting at the gate would outlive the test.
    if (controller_ && controller_->isInstalling()) {
        openGate();
        waitUntilIdle();
    }
    controller_.reset();
    manager_.reset();
    root_.reset();
}

void PairingWindowTest::setMode(const QByteArray& mode) {
    QFile file(rootPath(u"mode"_s));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(mode);
}

void PairingWindowTest::makeGate() {
    QCOMPARE(::mkfifo(QFile::encodeName(rootPath(u"gate"_s)).constData(), 0600), 0);
}

// Lets a waiting installer go on. The write end opens only once the installer
// has opened the read end, so this also waits for the installer to be there.
bool PairingWindowTest::openGate() {
    const QByteArray path = QFile::encodeName(rootPath(u"gate"_s));
    int fd = -1;
    const bool opened = QTest::qWaitFor(
        [&] {
            fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            return fd >= 0;
        },
        20000);
    if (!opened)
        return false;
    const bool written = ::write(fd, "\n", 1) == 1;
    ::close(fd);
    return written;
}

QStringList PairingWindowTest::sentCodes() const {
    QFile file(rootPath(u"codes.log"_s));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

void PairingWindowTest::typeHub(const QString& hub) {
    typeInto(controller_->hubField(), hub);
}

void PairingWindowTest::typeCode(const QString& code) {
    typeInto(controller_->pairCodeField(), code);
}

void PairingWindowTest::press(PressBy how) {
    if (how == PressBy::mouse)
        QTest::mouseClick(controller_->connectButton(), Qt::LeftButton);
    else
        QTest::keyClick(controller_->pairCodeField(), Qt::Key_Return);
}

void PairingWindowTest::startsHiddenWithTheFormInPlace() {
    QWidget* window = controller_->window();
    QVERIFY(!window->isVisible());
    QCOMPARE(window->windowTitle(), u"Korvan Controller"_s);
    QCOMPARE(window->minimumSize(), QSize(470, 390));
    QCOMPARE(window->maximumSize(), QSize(470, 390));
    const Qt::WindowFlags flags = window->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));

    QStringList labels;
    for (const QLabel* label : window->findChildren<QLabel*>())
        labels << label->text();
    for (const QString& text : {u"连接 Korvan"_s, u"把这台 Mac 与当前 Korvan 账号一对一绑定。"_s,
                                u"Korvan 地址"_s, u"一次性配对码"_s, kPrompt})
        QVERIFY2(labels.contains(text), qPrintable(text));

    QLineEdit* hubField = controller_->hubField();
    QVERIFY(hubField->text().startsWith(u"https://"_s));
    QCOMPARE(hubField->placeholderText(), hubField->text());
    QLineEdit* codeField = controller_->pairCodeField();
    QVERIFY(codeField->text().isEmpty());
    QCOMPARE(codeField->placeholderText(), u"ABCD-EFGH-IJKL"_s);
    QCOMPARE(controller_->connectButton()->text(), u"连接这台 Mac"_s);
    QVERIFY(controller_->connectButton()->isDefault());

    controller_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(!controller_->progressIndicator()->isVisible());
    QCOMPARE(window->focusWidget(), codeField);
    // Everything sits inside the fixed window, the button included.
    const QRect button = controller_->connectButton()->geometry();
    QVERIFY2(window->rect().contains(button), "connect button outside the window");
    QCOMPARE(button.height(), 36);
    QCOMPARE(button.left(), 34);
    QCOMPARE(button.right(), 470 - 34 - 1);
}

void PairingWindowTest::emptyCodeIsNotSent_data() {
    QTest::addColumn<QString>("typed");
    QTest::newRow("nothing") << QString();
    QTest::newRow("only blanks") << u"  \u3000 "_s;
}

void PairingWindowTest::emptyCodeIsNotSent() {
    QFETCH(QString, typed);
    controller_->show();
    typeHub(hub_.baseURL());
    typeCode(typed);
    controller_->hubField()->setFocus();
    press(PressBy::returnKey);
    QCOMPARE(controller_->statusLabel()->text(), kEmptyCode);
    QVERIFY(!controller_->isInstalling());
    QVERIFY(controller_->connectButton()->isEnabled());
    QCOMPARE(controller_->window()->focusWidget(), controller_->pairCodeField());
    QCOMPARE(controller_->pairCodeField()->text(), typed);
    QVERIFY(!QFile::exists(rootPath(u"codes.log"_s)));
}

void PairingWindowTest::attemptRunsOnceAndPairs_data() {
    QTest::addColumn<PressBy>("how");
    QTest::newRow("mouse") << PressBy::mouse;
    QTest::newRow("return") << PressBy::returnKey;
}

void PairingWindowTest::attemptRunsOnceAndPairs() {
    QFETCH(PressBy, how);
    makeGate();
    controller_->show();
    typeHub(u"  "_s + hub_.baseURL() + u"/ "_s);
    typeCode(u"  abcd-efgh-ijkl "_s);
    const qsizetype requestsBefore = hub_.requests().size();

    press(how);
    QVERIFY(controller_->isInstalling());
    QVERIFY(QTest::qWaitFor([this] { return controller_->statusLabel()->text() == kInstalling; },
                            20000));

    // Installing: everything locked, closing refused, further presses dropped.
    QVERIFY(!controller_->connectButton()->isEnabled());
    QVERIFY(!controller_->hubField()->isEnabled());
    QVERIFY(!controller_->pairCodeField()->isEnabled());
    QVERIFY(controller_->progressIndicator()->isVisible());
    QVERIFY(controller_->progressIndicator()->isAnimating());
    QVERIFY(!controller_->windowShouldClose());
    QVERIFY(!controller_->window()->close());
    QVERIFY(controller_->window()->isVisible());
    press(PressBy::mouse);
    press(PressBy::returnKey);
    controller_->connectMac();
    QCOMPARE(controller_->pairCodeField()->text(), u"  abcd-efgh-ijkl "_s);

    QVERIFY(openGate());
    QVERIFY(waitUntilIdle());

    QCOMPARE(hub_.requests().size() - requestsBefore, 1);
    QCOMPARE(sentCodes(), QStringList{u"ABCD-EFGH-IJKL"_s});
    QCOMPARE(controller_->statusLabel()->text(), kSuccess);
    QCOMPARE(statusColor(*controller_), PairingWindowController::successColor());
    QVERIFY(controller_->pairCodeField()->text().isEmpty());
    QCOMPARE(pairedCalls_, 1);
    QVERIFY(controller_->connectButton()->isEnabled());
    QVERIFY(controller_->hubField()->isEnabled());
    QVERIFY(controller_->pairCodeField()->isEnabled());
    QVERIFY(!controller_->progressIndicator()->isVisible());
    QVERIFY(!controller_->progressIndicator()->isAnimating());
    QVERIFY(controller_->windowShouldClose());
}

void PairingWindowTest::rejectedAddressPassesThroughBothStatesInOnePress_data() {
    QTest::addColumn<QString>("hub");
    QTest::newRow("empty") << QString();
    QTest::newRow("blanks and slashes") << u" // "_s;
    QTest::newRow("no scheme") << u"hub.example.com"_s;
    QTest::newRow("ftp") << u"ftp://127.0.0.1/"_s;
}

void PairingWindowTest::rejectedAddressPassesThroughBothStatesInOnePress() {
    QFETCH(QString, hub);
    controller_->show();
    typeHub(hub);
    typeCode(u"abcd"_s);
    TransitionLog buttonLog;
    TransitionLog spinnerLog;
    controller_->connectButton()->installEventFilter(&buttonLog);
    controller_->progressIndicator()->installEventFilter(&spinnerLog);
    const qsizetype requestsBefore = hub_.requests().size();

    press(PressBy::mouse);

    controller_->connectButton()->removeEventFilter(&buttonLog);
    controller_->progressIndicator()->removeEventFilter(&spinnerLog);
    QCOMPARE(buttonLog.entries, (QStringList{u"disabled"_s, u"enabled"_s}));
    QCOMPARE(spinnerLog.entries, (QStringList{u"spinner shown"_s, u"spinner hidden"_s}));
    QVERIFY(!controller_->isInstalling());
    QCOMPARE(controller_->statusLabel()->text(), kInvalidHub);
    QCOMPARE(statusColor(*controller_), PairingWindowController::failureColor());
    QCOMPARE(controller_->hubField()->text(), hub);
    QCOMPARE(controller_->pairCodeField()->text(), u"abcd"_s);
    QCOMPARE(hub_.requests().size(), requestsBefore);
    QCOMPARE(pairedCalls_, 0);
}

void PairingWindowTest::failedAttemptShowsRedLineAndKeepsFields_data() {
    QTest::addColumn<QByteArray>("mode");
    QTest::addColumn<QString>("hubPath");
    QTest::addColumn<QString>("line");
    QTest::newRow("installer exits 3")
        << QByteArray("fail") << QString() << u"installer: pair code rejected"_s;
    QTest::newRow("exit 0 but not paired")
        << QByteArray("unpaired") << QString() << u"installed without pairing"_s;
    QTest::newRow("exit 0, not paired, silent")
        << QByteArray("silent") << QString() << kGenericFailure;
    QTest::newRow("no installer on the hub") << QByteArray() << u"/nowhere"_s << kDownloadFailed;
}

void PairingWindowTest::failedAttemptShowsRedLineAndKeepsFields() {
    QFETCH(QByteArray, mode);
    QFETCH(QString, hubPath);
    QFETCH(QString, line);
    if (!mode.isEmpty())
        setMode(mode);
    controller_->show();
    const QString hub = hub_.baseURL() + hubPath;
    typeHub(hub);
    typeCode(u"wxyz"_s);

    press(PressBy::returnKey);
    QVERIFY(waitUntilIdle());

    QCOMPARE(controller_->statusLabel()->text(), line);
    QCOMPARE(statusColor(*controller_), PairingWindowController::failureColor());
    QCOMPARE(controller_->hubField()->text(), hub);
    QCOMPARE(controller_->pairCodeField()->text(), u"wxyz"_s);
    QVERIFY(controller_->connectButton()->isEnabled());
    QVERIFY(controller_->windowShouldClose());
    QCOMPARE(pairedCalls_, 0);
    // Closing is allowed again, and only hides the window.
    QVERIFY(controller_->window()->close());
    QVERIFY(!controller_->window()->isVisible());
    controller_->show();
    QCOMPARE(controller_->pairCodeField()->text(), u"wxyz"_s);
    QCOMPARE(controller_->statusLabel()->text(), kPrompt);
}

void PairingWindowTest::longFailureIsCutToThreeLines() {
    setMode("long");
    controller_->show();
    typeHub(hub_.baseURL());
    typeCode(u"abcd"_s);
    press(PressBy::mouse);
    QVERIFY(waitUntilIdle());

    QString words;
    for (int i = 1; i <= 60; ++i)
        words += u"word%1 "_s.arg(i, 2, 10, QChar(u'0'));
    const QString line = words.trimmed().right(240);
    QLabel* label = controller_->statusLabel();
    QCOMPARE(label->text(), line);
    QVERIFY(QTest::qWaitFor([label] { return label->isVisible() && label->width() > 0; }, 5000));
    QApplication::processEvents();
    // The line needs more than three lines at this width, but gets three.
    const QMargins margins = label->contentsMargins();
    const int threeLines =
        3 * label->fontMetrics().lineSpacing() + margins.top() + margins.bottom();
    QVERIFY(label->heightForWidth(label->width()) > threeLines);
    QVERIFY(label->height() <= threeLines);
    const QRect button = controller_->connectButton()->geometry();
    QVERIFY(controller_->window()->rect().contains(button));
    QVERIFY(button.top() >= label->mapTo(controller_->window(), QPoint(0, label->height())).y());
}

void PairingWindowTest::successClosesWindowEvenWhenReopened() {
    controller_->show();
    typeHub(hub_.baseURL());
    typeCode(u"abcd-efgh"_s);
    press(PressBy::mouse);
    QVERIFY(waitUntilIdle());
    QElapsedTimer sinceSuccess;
    sinceSuccess.start();
    QCOMPARE(controller_->statusLabel()->text(), kSuccess);

    // Reopened before the delayed close: the already-paired line, still green.
    controller_->show();
    QVERIFY(controller_->window()->isVisible());
    QCOMPARE(controller_->statusLabel()->text(), kAlreadyPaired);
    QCOMPARE(statusColor(*controller_), PairingWindowController::successColor());

    QVERIFY(QTest::qWaitFor([this] { return !controller_->window()->isVisible(); }, 10000));
    // The close waits its 1.1 s (a little slack for when the clock started).
    QVERIFY2(sinceSuccess.elapsed() >= PairingWindowController::closeDelayMs - 50,
             qPrintable(QString::number(sinceSuccess.elapsed())));
    QCOMPARE(pairedCalls_, 1);

    controller_->show();
    QVERIFY(controller_->window()->isVisible());
    QCOMPARE(controller_->statusLabel()->text(), kAlreadyPaired);
    QCOMPARE(statusColor(*controller_), PairingWindowController::successColor());
    QVERIFY(controller_->connectButton()->isEnabled());
    QVERIFY(controller_->pairCodeField()->isEnabled());
    QCOMPARE(controller_->window()->focusWidget(), controller_->pairCodeField());
}

void PairingWindowTest::failureColourCarriesIntoNextAttempt() {
    setMode("fail");
    controller_->show();
    typeHub(hub_.baseURL());
    typeCode(u"abcd"_s);
    press(PressBy::mouse);
    QVERIFY(waitUntilIdle());
    const QColor red = PairingWindowController::failureColor();
    QCOMPARE(statusColor(*controller_), red);

    // The next attempt's progress lines keep the colour of the last result.
    setMode("pair");
    makeGate();
    press(PressBy::returnKey);
    QCOMPARE(controller_->statusLabel()->text(), kDownloading);
    QCOMPARE(statusColor(*controller_), red);
    QVERIFY(QTest::qWaitFor([this] { return controller_->statusLabel()->text() == kInstalling; },
                            20000));
    QCOMPARE(statusColor(*controller_), red);

    QVERIFY(openGate());
    QVERIFY(waitUntilIdle());
    QCOMPARE(controller_->statusLabel()->text(), kSuccess);
    QCOMPARE(statusColor(*controller_), PairingWindowController::successColor());
    QCOMPARE(sentCodes(), (QStringList{u"ABCD"_s, u"ABCD"_s}));
}

void PairingWindowTest::linkDuringAttemptFillsFieldsAndAttemptContinues() {
    makeGate();
    controller_->show();
    typeHub(hub_.baseURL());
    typeCode(u"first-code"_s);
    press(PressBy::mouse);
    QVERIFY(QTest::qWaitFor([this] { return controller_->statusLabel()->text() == kInstalling; },
                            20000));

    controller_->show(QUrl(u"korvan://pair?hub=https%3A%2F%2Fother.example&code=second-code"_s));
    QCOMPARE(controller_->hubField()->text(), u"https://other.example"_s);
    QCOMPARE(controller_->pairCodeField()->text(), u"SECOND-CODE"_s);
    QCOMPARE(controller_->statusLabel()->text(), kPrompt);
    QVERIFY(controller_->isInstalling());
    QVERIFY(!controller_->connectButton()->isEnabled());
    QVERIFY(controller_->progressIndicator()->isAnimating());

    QVERIFY(openGate());
    QVERIFY(waitUntilIdle());
    QCOMPARE(sentCodes(), QStringList{u"FIRST-CODE"_s});
    QCOMPARE(controller_->statusLabel()->text(), kSuccess);
    QCOMPARE(pairedCalls_, 1);
}

void PairingWindowTest::showFillsFieldsFromLink_data() {
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("hub");
    QTest::addColumn<QString>("codeAfter");
    QTest::addColumn<bool>("codeFocused");

    const QString before = u"https://before.example"_s;
    QTest::newRow("both, code upper-cased")
        << QString() << u"korvan://p?hub=http://h:1&code=ab-cd"_s << u"http://h:1"_s << u"AB-CD"_s
        << false;
    QTest::newRow("hub kept with its blanks")
        << u"OLD"_s << u"KORVAN://p?hub=%20http://h%20"_s << u" http://h "_s << u"OLD"_s << false;
    QTest::newRow("empty values change nothing")
        << QString() << u"korvan://p?hub=&code="_s << before << QString() << true;
    QTest::newRow("no query") << u"KEEP"_s << u"korvan://pair"_s << before << u"KEEP"_s << false;
}

void PairingWindowTest::showFillsFieldsFromLink() {
    QFETCH(QString, code);
    QFETCH(QString, link);
    QFETCH(QString, hub);
    QFETCH(QString, codeAfter);
    QFETCH(bool, codeFocused);
    controller_->hubField()->setText(u"https://before.example"_s);
    controller_->pairCodeField()->setText(code);
    controller_->hubField()->setFocus();

    controller_->show(QUrl(link));

    QVERIFY(controller_->window()->isVisible());
    QCOMPARE(controller_->hubField()->text(), hub);
    QCOMPARE(controller_->pairCodeField()->text(), codeAfter);
    QCOMPARE(controller_->statusLabel()->text(), kPrompt);
    QCOMPARE(controller_->window()->focusWidget() == controller_->pairCodeField(), codeFocused);
}

QTEST_MAIN(PairingWindowTest)
#include "tst_pairingwindow.moc"
