#include "AwaitCompletion.h"
#include "Commands.h"
#include "OpenMetrics.h"

#include "core/Presentation.h"
#include "service/ServiceControl.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <optional>

namespace cli {

namespace {

// Without a report (an unpaired machine) its fields are null rather than the
// defaults a missing key gets, which a reader could take for a real report.
QString jsonLine(const std::optional<ServiceSnapshot>& report, const Invocation& call) {
    const auto field = [&](auto member) {
        return report ? QJsonValue((*report).*member) : QJsonValue();
    };
    QJsonObject o;
    o.insert(QStringLiteral("desired"), field(&ServiceSnapshot::desired));
    o.insert(QStringLiteral("bridge"), field(&ServiceSnapshot::bridge));
    o.insert(QStringLiteral("agent"), field(&ServiceSnapshot::agent));
    o.insert(QStringLiteral("hub"), field(&ServiceSnapshot::hub));
    o.insert(QStringLiteral("bridgeMemoryKB"), field(&ServiceSnapshot::bridgeMemoryKB));
    o.insert(QStringLiteral("agentMemoryKB"), field(&ServiceSnapshot::agentMemoryKB));
    o.insert(QStringLiteral("state"),
             report ? remoteStateName(report->state()) : unpairedStateName);
    o.insert(QStringLiteral("paired"), report.has_value());
    o.insert(QStringLiteral("serviceRoot"), ServiceRoot::display(call.root().path()));
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + u'\n';
}

QString textLines(const Presentation& p) {
    const QString lines[] = {p.stateLine, p.bridgeLine, p.agentLine, p.hubLine, p.memoryLine};
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
    const bool json = call.options.has(QStringLiteral("--json"));
    // As the tray does, an unpaired machine is never asked for its status.
    if (!call.manager.hasPairing()) {
        call.streams.out(json ? jsonLine(std::nullopt, call) : textLines(Presentation::unpaired()));
        return 0;
    }
    const auto result = awaitCompletion<CommandResult>(
        [&](auto done) { call.manager.run(QStringLiteral("status"), std::move(done)); });
    const ServiceSnapshot snapshot = ServiceSnapshot::parse(result.output);
    call.streams.out(json ? jsonLine(snapshot, call)
                          : textLines(Presentation::of(snapshot, false)));
    if (result.status == 0)
        return 0;
    call.streams.err(QStringLiteral("korvanctl status: ") + failedRunText(call, result) + u'\n');
    return 1;
}

} // namespace cli
