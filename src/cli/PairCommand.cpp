#include "AwaitCompletion.h"
#include "CommandTable.h"
#include "Commands.h"

#include "KorvanConfig.h"
#include "core/PairingLink.h"
#include "core/PairingOutcome.h"
#include "core/PairingTexts.h"
#include "core/SystemError.h"
#include "core/TextRules.h"
#include "service/ServiceControl.h"

#include <QSocketNotifier>
#include <QUrl>
#include <cerrno>
#include <optional>
#include <unistd.h>
#include <variant>

namespace cli {

namespace {

// A code or a link is one short line; more is not one of them.
constexpr qsizetype kInputLimit = 4096;

// The first line of standard input, read from the event loop so that a
// signal still ends korvanctl while nothing arrives. std::nullopt with the
// reason when it cannot be read.
std::variant<QString, QString> readInputLine(int fd) {
    QByteArray bytes;
    int error = 0;
    bool done = false;
    QSocketNotifier notifier(fd, QSocketNotifier::Read);
    awaitCompletion<bool>([&](auto finished) {
        const auto readSome = [&, finished] {
            char buffer[512];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                return;
            if (n < 0)
                error = errno;
            else
                bytes.append(buffer, n);
            if (n <= 0 || bytes.contains('\n') || bytes.size() > kInputLimit) {
                notifier.setEnabled(false);
                if (!std::exchange(done, true))
                    finished(true);
            }
        };
        QObject::connect(&notifier, &QSocketNotifier::activated, readSome);
    });
    if (error != 0)
        return std::variant<QString, QString>(std::in_place_index<1>,
                                              QStringLiteral("cannot read standard input: ") +
                                                  systemErrorText(error));
    bytes.truncate(bytes.indexOf('\n') < 0 ? bytes.size() : bytes.indexOf('\n'));
    if (bytes.size() > kInputLimit)
        return std::variant<QString, QString>(std::in_place_index<1>,
                                              QStringLiteral("standard input holds no short line"));
    const std::optional<QString> text = text::decodeUtf8(bytes);
    if (!text)
        return std::variant<QString, QString>(std::in_place_index<1>,
                                              QStringLiteral("standard input is not UTF-8 text"));
    return std::variant<QString, QString>(std::in_place_index<0>, *text);
}

// The last `count` lines of `text`, each ending in a line feed.
QString lastLines(const QString& text, qsizetype count) {
    QStringList lines = text::trimmed(text).split(u'\n');
    lines = lines.mid(std::max<qsizetype>(0, lines.size() - count));
    return lines.join(u'\n') + u'\n';
}

} // namespace

int pairCommand(Invocation& call) {
    Options& options = call.options;
    StandardStreams& streams = call.streams;
    ServiceControl& manager = call.manager;

    // A code on the command line is in the process list while the installer
    // runs; "-" takes it from standard input instead.
    for (const QString& name : {QStringLiteral("--code"), QStringLiteral("--link")}) {
        if (options.value(name) != u"-")
            continue;
        const auto input = readInputLine(call.input);
        if (input.index() == 1) {
            streams.err(QStringLiteral("korvanctl pair: ") + std::get<1>(input) + u'\n');
            return 1;
        }
        options.given.insert(name, std::get<0>(input));
    }

    // Fill the two fields the way the pairing window does: the default hub,
    // then the link, then what was typed.
    PairingFields fields{korvan::defaultHubURL, QString()};
    if (const auto text = options.value(QStringLiteral("--link"))) {
        const QUrl link(text::trimmed(*text), QUrl::StrictMode);
        if (!PairingLink::isKorvanLink(link))
            return usageError(call, QStringLiteral("--link takes a korvan:// link"));
        const PairingLinkFields given = PairingLink::parse(link);
        if (!given.hub && !given.code)
            return usageError(call, QStringLiteral("not a pairing link (it names neither hub "
                                                   "nor code): ") +
                                        link.toDisplayString());
        fields = PairingLink::prefill(fields, link);
    }
    QString& hub = fields.hub;
    QString& code = fields.code;
    hub = options.value(QStringLiteral("--hub")).value_or(hub);
    code = options.value(QStringLiteral("--code")).value_or(code);

    const std::optional<QString> pairCode = PairingOutcome::normalizedCode(code);
    if (!pairCode) {
        streams.err(PairingTexts::emptyCode + u'\n');
        return kUsageError;
    }

    if (options.has(QStringLiteral("--verbose")))
        manager.forwardOutput([&streams](int, QByteArrayView bytes) {
            if (!streams.failed())
                streams.outBytes(bytes);
        });
    const auto result = awaitCompletion<CommandResult>([&](auto done) {
        manager.installAndEnroll(
            PairingOutcome::normalizedHub(hub), *pairCode,
            [&streams](const QString& text) { streams.err(text + u'\n'); }, std::move(done));
    });
    manager.forwardOutput({});

    if (result.status == 0 && manager.hasPairing()) {
        streams.out(PairingOutcome::successLine() + u'\n');
        return 0;
    }
    // The detail first, so that the last line stays the pairing window's own.
    if (!result.detail.isEmpty())
        streams.err(QStringLiteral("korvanctl pair: ") + result.detail + u'\n');
    if (result.status == 0) {
        const QString output = result.output.toString();
        streams.err(QStringLiteral("korvanctl pair: the installer exited 0 but left no pairing "
                                   "file") +
                    (text::trimmed(output).isEmpty()
                         ? QStringLiteral(", and printed nothing\n")
                         : QStringLiteral("; its last lines:\n") + lastLines(output, 5)));
    }
    streams.err(PairingOutcome::failureLine(result) + u'\n');
    return result.status == 0 ? 1 : exitStatusFor(result.status);
}

} // namespace cli
