#include "PairingWindowController.h"

#include "BusyIndicator.h"
#include "KorvanConfig.h"
#include "WrappingLabel.h"
#include "core/PairingLink.h"
#include "core/PairingOutcome.h"
#include "core/PairingTexts.h"
#include "service/ServiceControl.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDialog>
#include <QFontDatabase>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>

namespace {

constexpr int kWidth = 470;
constexpr int kHeight = 390;
constexpr int kIconSide = 56;
constexpr int kStatusMaxLines = 3;

// The sizes are in device-independent pixels, as the window's layout is; Qt
// scales them for the screen like every other length.
QFont systemFont(int pixels, QFont::Weight weight = QFont::Normal) {
    QFont font = QApplication::font();
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

// The dimmed text colour of the current palette, for the subtitle and the
// status line before any attempt has coloured it.
QColor secondaryColor(const QWidget* widget) {
    return widget->palette().color(QPalette::PlaceholderText);
}

void setTextColor(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

QLabel* caption(const QString& text) {
    auto* label = new QLabel(text);
    label->setFont(systemFont(12, QFont::DemiBold));
    return label;
}

// The application's icon, scaled proportionally to fill its square. It is
// drawn at every paint for the screen the window is on now: at a device pixel
// ratio of 2 the icon engine renders twice the pixels, so the icon stays sharp
// where a pixmap made once for ratio 1 would be scaled up and blurred.
class IconView final : public QWidget {
public:
    explicit IconView(int side) { setFixedSize(side, side); }

protected:
    void paintEvent(QPaintEvent*) override {
        const QIcon icon = QApplication::windowIcon();
        if (icon.isNull())
            return;
        const QPixmap pixmap = icon.pixmap(size(), devicePixelRatioF());
        if (pixmap.isNull())
            return;
        QRectF target(QPointF(),
                      pixmap.deviceIndependentSize().scaled(QSizeF(size()), Qt::KeepAspectRatio));
        target.moveCenter(QRectF(rect()).center());
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(target, pixmap, QRectF(pixmap.rect()));
    }
};

// The window itself. Its close button and Escape both end in reject(), which
// hides it only when the controller allows it (QDialog::closeEvent ignores
// the close when the dialog is still visible afterwards).
class PairingDialog final : public QDialog {
public:
    explicit PairingDialog(std::function<bool()> mayClose)
        : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowCloseButtonHint),
          mayClose_(std::move(mayClose)) {}

    void reject() override {
        if (mayClose_())
            QDialog::reject();
    }

private:
    std::function<bool()> mayClose_;
};

} // namespace

PairingWindowController::PairingWindowController(ServiceControl& services,
                                                 std::function<void()> onPaired)
    : services_(services), onPaired_(std::move(onPaired)) {
    window_ = std::make_unique<PairingDialog>([this] { return windowShouldClose(); });
    window_->setObjectName(QStringLiteral("pairingWindow"));
    window_->setWindowTitle(PairingTexts::windowTitle);
    window_->setFixedSize(kWidth, kHeight);
    // A tray program has no other window: hiding this one must never end it.
    window_->setAttribute(Qt::WA_QuitOnClose, false);
    // A child, so that it goes with the controller (and the window with it).
    closeTimer_.setParent(this);
    closeTimer_.setObjectName(QStringLiteral("closeTimer"));
    closeTimer_.setSingleShot(true);
    closeTimer_.setTimerType(Qt::PreciseTimer); // a coarse timer may fire 5% early
    closeTimer_.setInterval(closeDelayMs);
    connect(&closeTimer_, &QTimer::timeout, window_.get(), &QWidget::hide);
    buildLayout();
    centerWindow();
}

PairingWindowController::~PairingWindowController() = default;

QColor PairingWindowController::successColor() {
    return QColor(0x1e, 0x8e, 0x3e);
}

QColor PairingWindowController::failureColor() {
    return QColor(0xd9, 0x30, 0x25);
}

void PairingWindowController::buildLayout() {
    auto* icon = new IconView(kIconSide);
    icon->setObjectName(QStringLiteral("headerIcon"));

    auto* title = new QLabel(PairingTexts::title);
    title->setFont(systemFont(24, QFont::Bold));
    auto* subtitle = new QLabel(PairingTexts::subtitle);
    subtitle->setFont(systemFont(13));
    subtitle->setWordWrap(true);
    setTextColor(subtitle, secondaryColor(window_.get()));

    auto* titleColumn = new QVBoxLayout;
    titleColumn->setSpacing(4);
    titleColumn->addWidget(title);
    titleColumn->addWidget(subtitle);

    auto* header = new QHBoxLayout;
    header->setSpacing(14);
    header->addWidget(icon, 0, Qt::AlignVCenter);
    header->addLayout(titleColumn, 1);

    const QString defaultHub = korvan::defaultHubURL;
    hubField_ = new QLineEdit(defaultHub);
    hubField_->setPlaceholderText(defaultHub);
    hubField_->setObjectName(QStringLiteral("hubField"));
    hubField_->setFixedHeight(28);

    pairCodeField_ = new QLineEdit;
    pairCodeField_->setObjectName(QStringLiteral("pairCodeField"));
    pairCodeField_->setPlaceholderText(PairingTexts::codePlaceholder);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(16);
    mono.setWeight(QFont::DemiBold);
    pairCodeField_->setFont(mono);
    pairCodeField_->setAlignment(Qt::AlignCenter);
    pairCodeField_->setFixedHeight(34);

    progressIndicator_ = new BusyIndicator;
    progressIndicator_->setObjectName(QStringLiteral("progressIndicator"));
    statusLabel_ = new WrappingLabel(kStatusMaxLines);
    statusLabel_->setObjectName(QStringLiteral("statusLabel"));
    statusLabel_->setFont(systemFont(12));
    statusLabel_->setText(PairingTexts::prompt);
    setTextColor(statusLabel_, secondaryColor(window_.get()));

    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(8);
    statusRow->addWidget(progressIndicator_, 0, Qt::AlignVCenter);
    statusRow->addWidget(statusLabel_, 1, Qt::AlignVCenter);

    connectButton_ = new QPushButton(PairingTexts::connectButton);
    connectButton_->setObjectName(QStringLiteral("connectButton"));
    // The dialog presses its default button on Return, and only while it is enabled.
    connectButton_->setDefault(true);
    connectButton_->setFixedHeight(36);
    connect(connectButton_, &QPushButton::clicked, this, &PairingWindowController::connectMac);

    auto* form = new QVBoxLayout(window_.get());
    form->setContentsMargins(34, 30, 34, 0);
    form->setSpacing(9);
    form->addLayout(header);
    form->addWidget(caption(PairingTexts::hubCaption));
    form->addWidget(hubField_);
    form->addWidget(caption(PairingTexts::codeCaption));
    form->addWidget(pairCodeField_);
    form->addLayout(statusRow);
    form->addWidget(connectButton_);
    form->addStretch(1);
}

void PairingWindowController::centerWindow() {
    QScreen* screen = window_->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window_->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window_->move(frame.topLeft());
}

void PairingWindowController::show(const std::optional<QUrl>& pairingURL) {
    if (pairingURL) {
        const PairingFields fields =
            PairingLink::prefill({hubField_->text(), pairCodeField_->text()}, *pairingURL);
        hubField_->setText(fields.hub);
        pairCodeField_->setText(fields.code);
    }

    // A paired machine may still start a new attempt: only the line changes.
    setStatusText(services_.hasPairing() ? PairingTexts::alreadyPaired : PairingTexts::prompt);

    window_->show();
    centerWindow();
    window_->raise();
    window_->activateWindow();

    if (pairCodeField_->text().isEmpty())
        pairCodeField_->setFocus(Qt::OtherFocusReason);
}

void PairingWindowController::connectMac() {
    if (isInstalling_)
        return;
    const QString hub = PairingOutcome::normalizedHub(hubField_->text());
    const std::optional<QString> code = PairingOutcome::normalizedCode(pairCodeField_->text());
    if (!code) {
        setStatusText(PairingTexts::emptyCode);
        pairCodeField_->setFocus(Qt::OtherFocusReason);
        return;
    }

    // Enrollment may report progress, and reject the address outright, before
    // installAndEnroll returns; the busy state must already be in place.
    isInstalling_ = true;
    setControlsEnabled(false);
    progressIndicator_->startAnimation();

    QPointer<PairingWindowController> self(this);
    services_.installAndEnroll(
        hub, *code,
        [self](const QString& text) {
            if (self)
                self->handleProgress(text);
        },
        [self](const CommandResult& result) {
            if (self)
                self->handleCompletion(result);
        });
}

void PairingWindowController::handleProgress(const QString& text) {
    setStatusText(text);
}

void PairingWindowController::handleCompletion(const CommandResult& result) {
    isInstalling_ = false;
    progressIndicator_->stopAnimation();
    setControlsEnabled(true);

    // The pairing file is read only when the installer claims success.
    if (result.status != 0 || !services_.hasPairing()) {
        setStatusColor(failureColor());
        setStatusText(PairingOutcome::failureLine(result));
        return;
    }

    setStatusColor(successColor());
    setStatusText(PairingOutcome::successLine());
    pairCodeField_->clear();

    QPointer<PairingWindowController> self(this);
    if (onPaired_)
        onPaired_();
    if (!self)
        return;
    // Hides the window even when the user has reopened it meanwhile, and
    // without asking windowShouldClose.
    closeTimer_.start();
}

void PairingWindowController::setStatusText(const QString& text) {
    statusLabel_->setText(text);
}

void PairingWindowController::setStatusColor(const QColor& colour) {
    setTextColor(statusLabel_, colour);
}

void PairingWindowController::setControlsEnabled(bool enabled) {
    connectButton_->setEnabled(enabled);
    hubField_->setEnabled(enabled);
    pairCodeField_->setEnabled(enabled);
}
