#include "Commands.h"

#include "KorvanConfig.h"
#include "core/PairingLink.h"
#include "core/PairingOutcome.h"
#include "core/PairingTexts.h"
#include "service/ServiceManager.h"

#include <QEventLoop>
#include <QUrl>
#include <optional>

namespace cli {

int pairCommand(Invocation& call) {
    const Options& options = call.options;
    StandardStreams& streams = call.streams;
    ServiceManager& manager = call.manager;

    // Fill the two fields the way the pairing window does: the default hub,
    // then the link, then what was typed.
    PairingFields fields{korvan::defaultHubURL, QString()};
    if (const auto text = options.value(QStringLiteral("--link"))) {
        const QUrl link(*text, QUrl::StrictMode);
        if (!PairingLink::isKorvanLink(link)) {
            streams.err(QStringLiteral("korvanctl pair: --link takes a korvan:// link\n"));
            return 2;
        }
        fields = PairingLink::prefill(fields, link);
    }
    QString& hub = fields.hub;
    QString& code = fields.code;
    hub = options.value(QStringLiteral("--hub")).value_or(hub);
    code = options.value(QStringLiteral("--code")).value_or(code);

    const std::optional<QString> pairCode = PairingOutcome::normalizedCode(code);
    if (!pairCode) {
        streams.err(PairingTexts::emptyCode + u'\n');
        return 2;
    }

    // An unusable hub completes before installAndEnroll returns, so the loop
    // only runs when the result is still to come.
    QEventLoop loop;
    std::optional<CommandResult> result;
    manager.installAndEnroll(
        PairingOutcome::normalizedHub(hub), *pairCode,
        [&streams](const QString& text) { streams.err(text + u'\n'); },
        [&](const CommandResult& r) {
            result = r;
            loop.quit();
        });
    if (!result)
        loop.exec();

    if (options.has(QStringLiteral("--verbose")) && !result->output.isEmpty()) {
        const QString output = result->output.toString();
        streams.out(output.endsWith(u'\n') ? output : output + u'\n');
    }
    if (result->status == 0 && manager.hasPairing()) {
        streams.out(PairingOutcome::successLine() + u'\n');
        return 0;
    }
    streams.err(PairingOutcome::failureLine(*result) + u'\n');
    return result->status == 0 ? 1 : exitStatusFor(result->status);
}

} // namespace cli
