#include "CliCommands.h"

#include "core/StatusText.h"
#include "service/ServiceManager.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>

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
    const bool json = args == QStringList{QStringLiteral("--json")};
    if (!args.isEmpty() && !json) {
        printUsage(true);
        return 2;
    }
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
