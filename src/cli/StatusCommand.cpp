#include "CliCommands.h"
#include "OpenMetrics.h"

#include "core/StatusText.h"
#include "service/ServiceManager.h"

#include <QCoreApplication>
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
    o.insert(QStringLiteral("serviceRoot"), manager.serviceRootPath());
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

int statusCommand(ServiceManager& manager, const QStringList& args) {
    bool json = false;
    bool openMetrics = false;
    std::optional<QString> output;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == u"--json" && !json) {
            json = true;
        } else if (args[i] == u"--openmetrics" && !openMetrics) {
            openMetrics = true;
        } else if (args[i] == u"--output" && !output && i + 1 < args.size() &&
                   !args[i + 1].isEmpty()) {
            output = args[++i];
        } else {
            printUsage(true);
            return 2;
        }
    }
    if ((json && openMetrics) || (output && !openMetrics)) {
        printUsage(true);
        return 2;
    }
    if (openMetrics)
        return openMetricsStatus(manager, output.value_or(QString()));
    QEventLoop loop;
    ServiceSnapshot snapshot;
    manager.status([&](const ServiceSnapshot& s) {
        snapshot = s;
        loop.quit();
    });
    loop.exec();
    writeOut(json ? jsonLine(snapshot, manager) : textLines(snapshot));
    return 0;
}

} // namespace cli
