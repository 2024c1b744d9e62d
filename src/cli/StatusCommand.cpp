#include "CommandTable.h"
#include "Commands.h"
#include "OpenMetrics.h"

#include "core/Presentation.h"
#include "service/ServiceManager.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <optional>

namespace cli {

namespace {

// Without a report (an unpaired machine) its fields are null rather than the
// defaults a missing key gets, which a reader could take for a real report.
QString jsonLine(const std::optional<ServiceSnapshot>& report, const ServiceManager& manager) {
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
    o.insert(QStringLiteral("serviceRoot"), ServiceRoot::display(manager.serviceRootPath()));
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
    const bool openMetrics = call.options.has(QStringLiteral("--openmetrics"));
    const std::optional<QString> output = call.options.value(QStringLiteral("--output"));
    if ((openMetrics && call.options.has(QStringLiteral("--json"))) ||
        (output && (!openMetrics || output->isEmpty()))) {
        call.streams.err(usageText());
        return 2;
    }
    if (openMetrics)
        return openMetricsStatus(call, output.value_or(QString()));
    // As the tray does, an unpaired machine is never asked for its status.
    std::optional<ServiceSnapshot> report;
    if (call.manager.hasPairing()) {
        QEventLoop loop;
        call.manager.status([&](const ServiceSnapshot& s) {
            report = s;
            loop.quit();
        });
        loop.exec();
    }
    if (call.options.has(QStringLiteral("--json")))
        call.streams.out(jsonLine(report, call.manager));
    else
        call.streams.out(
            textLines(report ? Presentation::of(*report, false) : Presentation::unpaired()));
    return 0;
}

} // namespace cli
