// korvanctl: the command-line front end of the controller, for machines
// without a display and for scripts. Links QtCore and QtNetwork only.
#include "CliCommands.h"

#include "KorvanConfig.h"
#include "SignalGuard.h"
#include "platform/Translations.h"
#include "service/ServiceManager.h"

#include <QCoreApplication>
#include <cstdio>

namespace cli {

void printUsage(bool toError) {
    const QString usage =
        QStringLiteral("usage: korvanctl <command> [options]\n"
                       "\n"
                       "commands:\n"
                       "  status [--json]   print the services' state (the tray menu's lines)\n"
                       "  status --openmetrics [--output FILE]\n"
                       "                    the same as gauges in the OpenMetrics text format,\n"
                       "                    FILE replaced atomically; exit 74 if writing fails\n"
                       "  start             start the services through the control script\n"
                       "  stop              stop the services\n"
                       "  restart           restart the services\n"
                       "  pair [--hub URL] [--code CODE] [--link LINK] [--verbose]\n"
                       "                    pair this machine with a hub using a one-time code;\n"
                       "                    the hub defaults to ") +
        korvan::defaultHubURL +
        QStringLiteral(
            ", a korvan://\n"
            "                    link fills hub and code, --hub and --code win over it,\n"
            "                    --verbose also prints the installer's output\n"
            "  doctor            check the service root, control script, pairing file,\n"
            "                    tray host, start-at-login entry and korvan:// link\n"
            "                    handler, one line each; exit 1 when the controller\n"
            "                    could not run here (no script, pairing or tray host)\n"
            "  --help            show this help\n"
            "  --version         show the version\n"
            "\n"
            "The service root is $KORVAN_APP_SUPPORT_DIR, or\n"
            "~/Library/Application Support/Korvan/Korvan-VPS-Hub when it is unset.\n");
    toError ? writeErr(usage) : writeOut(usage);
}

int exitStatusFor(qint32 status) {
    return status >= 0 && status <= 255 ? status : 255;
}

static void writeTo(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

void writeOut(const QString& text) {
    writeTo(stdout, text);
}

void writeErr(const QString& text) {
    writeTo(stderr, text);
}

} // namespace cli

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Translations::installQtTranslations();
    QCoreApplication::setApplicationName(QStringLiteral("korvanctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KORVAN_VERSION));

    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty()) {
        cli::printUsage(true);
        return 2;
    }
    const QString command = args.takeFirst();
    if (command == u"--help" && args.isEmpty()) {
        cli::printUsage(false);
        return 0;
    }
    if (command == u"--version" && args.isEmpty()) {
        cli::writeOut(QStringLiteral("korvanctl " KORVAN_VERSION "\n"));
        return 0;
    }

    ServiceManager manager;
    const cli::SignalGuard signalGuard(manager.runner());
    if (command == u"status")
        return cli::statusCommand(manager, args);
    if (command == u"start" || command == u"stop" || command == u"restart")
        return cli::serviceCommand(manager, command, args);
    if (command == u"pair")
        return cli::pairCommand(manager, args);
    if (command == u"doctor")
        return cli::doctorCommand(manager, args);
    cli::printUsage(true);
    return 2;
}
