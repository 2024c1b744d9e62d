#include "Commands.h"

#include "service/ServiceManager.h"

#include <QEventLoop>

namespace cli {

int serviceCommand(Invocation& call) {
    QEventLoop loop;
    CommandResult result;
    call.manager.run(call.command, [&](const CommandResult& r) {
        result = r;
        loop.quit();
    });
    loop.exec();
    call.streams.out(result.output.toString());
    call.streams.err(result.error.toString());
    return exitStatusFor(result.status);
}

} // namespace cli
