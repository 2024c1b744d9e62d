#include "LoopbackHttpServer.h"

#include <QTcpSocket>

LoopbackHttpServer::LoopbackHttpServer(QObject* parent) : QObject(parent) {
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

QString LoopbackHttpServer::baseURL() const {
    return QStringLiteral("http://127.0.0.1:") + QString::number(server_.serverPort());
}

void LoopbackHttpServer::answer(QTcpSocket* socket) {
    // GET requests only: the head is complete at the blank line.
    const QByteArray head = socket->property("head").toByteArray() + socket->readAll();
    socket->setProperty("head", head);
    if (!head.contains("\r\n\r\n") || socket->property("answered").toBool())
        return;
    socket->setProperty("answered", true);
    const QByteArray line = head.left(head.indexOf("\r\n"));
    requests_.append(line.left(line.lastIndexOf(' ')));
    const QByteArray target = line.split(' ').value(1);
    const Response r = routes_.value(target.split('?').first(), Response{404, {}, {}});
    if (r.status < 0)
        return;
    if (r.status > 0) {
        QByteArray out = "HTTP/1.1 " + QByteArray::number(r.status) + " X\r\nConnection: close\r\n";
        if (!r.headers.contains("Content-Length"))
            out += "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
        socket->write(out + r.headers + "\r\n" + r.body);
    }
    socket->disconnectFromHost();
}
