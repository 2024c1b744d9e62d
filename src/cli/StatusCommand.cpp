#include "AwaitCompletion.h"
#include "Commands.h"
#include "OpenMetrics.h"

#include "core/StatusText.h"
#include "service/ServiceControl.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <optional>

namespace cli {

namespace {

QString jsonLine(const ServiceSnapshot& s, const Invocation& call) {
    QJsonObject o;
    o.insert(QStringLiteral("desired"), s.desired);
    o.insert(QStringLiteral("bridge"), s.bridge);
    o.insert(QStringLiteral("agent"), s.agent);
    o.insert(QStringLiteral("hub"), s.hub);
    o.insert(QStringLiteral("bridgeMemoryKB"), s.bridgeMemoryKB);
    o.insert(QStringLiteral("agentMemoryKB"), s.agentMemoryKB);
    o.insert(QStringLiteral("state"), remoteStateName(s.state()));
    o.insert(QStringLiteral("paired"), call.manager.hasPairing());
    o.insert(QStringLiteral("serviceRoot"), ServiceRoot::display(call.root().path()));
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + u'\n';
}

QString textLines(const ServiceSnapshot& s) {
    const QString lines[] = {StatusText::stateLine(s.state()), StatusText::bridgeLine(s),
                             StatusText::agentLine(s), StatusText::hubLine(s),
                             StatusText::memoryLine(s)};
    QString out;
    for (const QString& l : lines)
        out += l + u'\n';
    return out;
}

} // namespace

int statusCommand(Invocation& call) {
    if (call.options.has(QStringLiteral("--openmetrics")))
        return openMetricsStatus(
            call, call.options.value(QStringLiteral("--output")).value_or(QString()));
    const auto result = awaitCompletion<CommandResult>(
        [&](auto done) { call.manager.run(QStringLiteral("status"), std::move(done)); });
    const ServiceSnapshot snapshot = ServiceSnapshot::parse(result.output);
    call.streams.out(call.options.has(QStringLiteral("--json")) ? jsonLine(snapshot, call)
                                                                : textLines(snapshot));
    if (result.status == 0)
        return 0;
    call.streams.err(QStringLiteral("korvanctl status: ") + failedRunText(call, result) + u'\n');
    return 1;
}

} // namespace cli
