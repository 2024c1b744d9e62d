#include "CliCommands.h"

#include "KorvanConfig.h"
#include "core/PairingLink.h"
#include "core/PairingOutcome.h"
#include "core/PairingTexts.h"
#include "service/ServiceManager.h"

#include <QEventLoop>
#include <QUrl>
#include <optional>

namespace cli {

namespace {

struct PairOptions {
    std::optional<QString> hub;
    std::optional<QString> code;
    std::optional<QString> link;
    bool verbose = false;
};

// `--name value` and `--name=value`; a repeated option keeps its last value.
std::optional<PairOptions> parseOptions(const QStringList& args) {
    PairOptions options;
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString name = args[i];
        std::optional<QString> value;
        if (const qsizetype eq = name.indexOf(u'='); name.startsWith(u"--") && eq > 0) {
            value = name.sliced(eq + 1);
            name.truncate(eq);
        }
        if (name == u"--verbose" && !value) {
            options.verbose = true;
            continue;
        }
        std::optional<QString>* slot = nullptr;
        if (name == u"--hub")
            slot = &options.hub;
        else if (name == u"--code")
            slot = &options.code;
        else if (name == u"--link")
            slot = &options.link;
        if (!slot)
            return std::nullopt;
        if (!value) {
            if (i + 1 >= args.size())
                return std::nullopt;
            value = args[++i];
        }
        *slot = value;
    }
    return options;
}

} // namespace

int pairCommand(ServiceManager& manager, const QStringList& args) {
    const std::optional<PairOptions> options = parseOptions(args);
    if (!options) {
        printUsage(true);
        return 2;
    }

    // Fill the two fields the way the pairing window does: the default hub,
    // then the link, then what was typed.
    PairingFields fields{korvan::defaultHubURL, QString()};
    if (options->link) {
        const QUrl link(*options->link, QUrl::StrictMode);
        if (!PairingLink::isKorvanLink(link)) {
            writeErr(QStringLiteral("korvanctl pair: --link takes a korvan:// link\n"));
            return 2;
        }
        fields = PairingLink::prefill(fields, link);
    }
    QString& hub = fields.hub;
    QString& code = fields.code;
    if (options->hub)
        hub = *options->hub;
    if (options->code)
        code = *options->code;

    const std::optional<QString> pairCode = PairingOutcome::normalizedCode(code);
    if (!pairCode) {
        writeErr(PairingTexts::emptyCode + u'\n');
        return 2;
    }

    // An unusable hub completes before installAndEnroll returns, so the loop
    // only runs when the result is still to come.
    QEventLoop loop;
    std::optional<CommandResult> result;
    manager.installAndEnroll(
        PairingOutcome::normalizedHub(hub), *pairCode,
        [](const QString& text) { writeErr(text + u'\n'); },
        [&](const CommandResult& r) {
            result = r;
            loop.quit();
        });
    if (!result)
        loop.exec();

    if (options->verbose && !result->output.isEmpty())
        writeOut(result->output.endsWith(u'\n') ? result->output : result->output + u'\n');
    if (result->status == 0 && manager.hasPairing()) {
        writeOut(PairingOutcome::successLine() + u'\n');
        return 0;
    }
    writeErr(PairingOutcome::failureLine(*result) + u'\n');
    return result->status == 0 ? 1 : exitStatusFor(result->status);
}

} // namespace cli
