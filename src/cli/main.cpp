// korvanctl: the command-line front end of the controller, for machines
// without a display and for scripts. Links QtCore and QtNetwork only. This
// builds the invocation from the process; the commands live in the library.
#include "CommandTable.h"
#include "KorvanConfig.h"
#include "SignalGuard.h"
#include "StandardStreams.h"
#include "platform/Translations.h"
#include "service/ServiceManager.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    // Before anything can open a descriptor into a closed 0, 1 or 2.
    cli::StandardStreams::prepareProcess();
    cli::StandardStreams streams;
    QCoreApplication app(argc, argv);
    Translations::installQtTranslations();
    QCoreApplication::setApplicationName(QStringLiteral("korvanctl"));
    QCoreApplication::setApplicationVersion(QLatin1StringView(korvan::version));
    ServiceManager manager;
    const cli::SignalGuard signalGuard(manager.runner());
    cli::Invocation call{
        QCoreApplication::arguments().mid(1),   streams, manager, manager.runner(), manager.home(),
        QCoreApplication::applicationFilePath()};
    return streams.finish(cli::runCommandLine(call));
}
