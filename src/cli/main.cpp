// korvanctl: the command-line front end of the controller, for machines
// without a display and for scripts. Links QtCore and QtNetwork only.
#include "CommandTable.h"
#include "StandardStreams.h"
#include "platform/Translations.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    // Before anything can open a descriptor into a closed 0, 1 or 2.
    cli::StandardStreams streams;
    QCoreApplication app(argc, argv);
    Translations::installQtTranslations();
    QCoreApplication::setApplicationName(QStringLiteral("korvanctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KORVAN_VERSION));
    return streams.finish(cli::runCommandLine(QCoreApplication::arguments().mid(1), streams));
}
