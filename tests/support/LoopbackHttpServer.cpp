#include "LoopbackHttpServer.h"

#include <QTcpSocket>

LoopbackHttpServer::LoopbackHttpServer() {
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                // GET only: the request is complete at its blank line.
                const QByteArray head = socket->property("head").toByteArray() + socket->readAll();
                socket->setProperty("head", head);
                if (!head.contains("\r\n\r\n"))
                    return;
                requests_.append(head.left(head.indexOf("\r\n\r\n")));
                const QByteArray line = head.left(head.indexOf(" HTTP/"));
                const Response r = routes_.value(line.split(' ').value(1).split('?').first(),
                                                 Response{404, {}, {}});
                if (r.status < 0)
                    return;
                const bool framed = r.closeDelimited || r.headers.contains("-Length") ||
                                    r.headers.contains("Transfer-");
                const QByteArray length =
                    framed ? QByteArray()
                           : "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
                socket->write("HTTP/1.1 " + QByteArray::number(r.status) + " X\r\n" + length +
                              r.headers + "Connection: close\r\n\r\n" + r.body);
                socket->disconnectFromHost();
            });
        }
    });
}

QString LoopbackHttpServer::baseURL() const {
    return QStringLiteral("http://127.0.0.1:") + QString::number(server_.serverPort());
}
