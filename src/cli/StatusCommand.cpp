#include "CommandTable.h"
#include "Commands.h"
#include "OpenMetrics.h"

#include "core/StatusText.h"
#include "service/ServiceManager.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <optional>

namespace cli {

namespace {

QString jsonLine(const ServiceSnapshot& s, const ServiceManager& manager) {
    QJsonObject o;
    o.insert(QStringLiteral("desired"), s.desired);
    o.insert(QStringLiteral("bridge"), s.bridge);
    o.insert(QStringLiteral("agent"), s.agent);
    o.insert(QStringLiteral("hub"), s.hub);
    o.insert(QStringLiteral("bridgeMemoryKB"), s.bridgeMemoryKB);
    o.insert(QStringLiteral("agentMemoryKB"), s.agentMemoryKB);
    o.insert(QStringLiteral("state"), remoteStateName(s.state()));
    o.insert(QStringLiteral("paired"), manager.hasPairing());
    o.insert(QStringLiteral("serviceRoot"), ServiceRoot::display(manager.serviceRootPath()));
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
    const bool openMetrics = call.options.has(QStringLiteral("--openmetrics"));
    const std::optional<QString> output = call.options.value(QStringLiteral("--output"));
    if ((openMetrics && call.options.has(QStringLiteral("--json"))) ||
        (output && (!openMetrics || output->isEmpty()))) {
        call.streams.err(usageText());
        return 2;
    }
    if (openMetrics)
        return openMetricsStatus(call, output.value_or(QString()));
    QEventLoop loop;
    ServiceSnapshot snapshot;
    call.manager.status([&](const ServiceSnapshot& s) {
        snapshot = s;
        loop.quit();
    });
    loop.exec();
    call.streams.out(call.options.has(QStringLiteral("--json")) ? jsonLine(snapshot, call.manager)
                                                                : textLines(snapshot));
    return 0;
}

} // namespace cli
