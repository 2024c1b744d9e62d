#include "LoopbackHttpServer.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace {

QByteArray reasonFor(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 307:
        return "Temporary Redirect";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

} // namespace

LoopbackHttpServer::LoopbackHttpServer(QObject* parent) : QObject(parent) {
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadable(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

bool LoopbackHttpServer::listen() {
    return server_.listen(QHostAddress::LocalHost, 0);
}

QString LoopbackHttpServer::baseURL() const {
    return QStringLiteral("http://127.0.0.1:") + QString::number(port());
}

void LoopbackHttpServer::route(const QByteArray& path, Response response) {
    routes_.insert(path, std::move(response));
}

QList<QByteArray> LoopbackHttpServer::requestedTargets() const {
    QList<QByteArray> targets;
    for (const Request& r : requests_)
        targets.append(r.target);
    return targets;
}

quint16 LoopbackHttpServer::closedPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

void LoopbackHttpServer::onReadable(QTcpSocket* socket) {
    // GET requests only: the head is complete at the blank line.
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        socket->setProperty("buffer", buffer);
        return;
    }
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    Request request;
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                   lines[i].mid(colon + 1).trimmed());
    }
    requests_.append(request);
    answer(socket, request);
    Q_EMIT requestReceived();
}

void LoopbackHttpServer::answer(QTcpSocket* socket, const Request& request) {
    QByteArray path = request.target;
    if (const qsizetype q = path.indexOf('?'); q >= 0)
        path.truncate(q);
    const Response response = routes_.value(path, Response{404, {}, {}});
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                      reasonFor(response.status) +
                      "\r\nContent-Length: " + QByteArray::number(response.body.size()) +
                      "\r\nConnection: close\r\n";
    if (!response.location.isEmpty())
        head += "Location: " + response.location + "\r\n";
    socket->write(head + "\r\n" + response.body);
    socket->disconnectFromHost();
}
