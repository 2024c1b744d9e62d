#include "CliCommands.h"

#include "service/ServiceManager.h"

#include <QEventLoop>

namespace cli {

int serviceCommand(ServiceManager& manager, const QString& word, const QStringList& args) {
    if (!args.isEmpty()) {
        printUsage(true);
        return 2;
    }
    QEventLoop loop;
    CommandResult result;
    manager.run(word, [&](const CommandResult& r) {
        result = r;
        loop.quit();
    });
    loop.exec();
    writeOut(result.output);
    writeErr(result.error);
    return exitStatusFor(result.status);
}

} // namespace cli
