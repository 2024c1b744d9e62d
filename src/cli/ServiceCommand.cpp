#include "AwaitCompletion.h"
#include "Commands.h"

#include "service/ServiceControl.h"
#include "service/ServiceTexts.h"

namespace cli {

int serviceCommand(Invocation& call) {
    StandardStreams& streams = call.streams;
    // The child's bytes go out as they arrive, each stream to its own; once
    // our own output fails nothing more is forwarded, but the run goes on to
    // its end: a restart cut between its stop and its start would leave the
    // services down.
    bool forwarded[3] = {false, false, false};
    call.manager.forwardOutput([&](int stream, QByteArrayView bytes) {
        forwarded[stream == 2 ? 2 : 1] = true;
        if (streams.failed())
            return;
        stream == 2 ? streams.errBytes(bytes) : streams.outBytes(bytes);
    });
    const auto result = awaitCompletion<CommandResult>(
        [&](auto done) { call.manager.run(call.command, std::move(done)); });
    call.manager.forwardOutput({});
    // A run that never started has only the runner's own message to show.
    if (!forwarded[2] && !result.error.isEmpty() && !streams.failed()) {
        const QString error = result.error.toString();
        streams.err(error.endsWith(u'\n') ? error : error + u'\n');
    }
    return exitStatusFor(result.status);
}

QString failedRunText(const Invocation& call, const CommandResult& result) {
    const QString script = ServiceRoot::display(call.root().controlScriptPath());
    if (result.status == 127 && ServiceRoot::checkScript(call.root().controlScriptPath()) !=
                                    ServiceRoot::Script::executable)
        return QStringLiteral("the control script ") + script +
               QStringLiteral(" is missing or not executable");
    if (result.status == 126 && result.output.isEmpty())
        return QStringLiteral("the control script ") + script +
               QStringLiteral(" cannot be launched: ") + result.error.toString();
    if (result.error.toString() == ServiceTexts::statusTimedOut)
        return QStringLiteral("the status run was ended at its time limit");
    return QStringLiteral("the status run ended with status ") + QString::number(result.status) +
           QStringLiteral(" (its exit code, or the signal that ended it)");
}

} // namespace cli
