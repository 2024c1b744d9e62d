// LoopbackHttpServer: a tiny HTTP/1.1 server on 127.0.0.1 that answers from the test's event
// loop, one request per connection; a path without a route gets an empty 404.
#pragma once

#include <QHash>
#include <QTcpServer>

class LoopbackHttpServer : public QObject {
public:
    struct Response {
        int status = 200; // -1: never answer
        QByteArray body;
        QByteArray headers; // lines ending in CR LF; ours goes if they state a length or coding
        bool closeDelimited = false; // no framing at all: the body ends at the close
    };
    LoopbackHttpServer();
    bool listen() { return server_.listen(QHostAddress::LocalHost, 0); }
    QString baseURL() const;
    void route(const QByteArray& path, Response response) { routes_[path] = std::move(response); }
    void serve(const QByteArray& path, const QByteArray& body) { route(path, {200, body, {}}); }
    // The head of each request so far, e.g. "GET /agent/install.sh HTTP/1.1\r\nHost: ...".
    const QList<QByteArray>& requests() const { return requests_; }

private:
    QTcpServer server_;
    QHash<QByteArray, Response> routes_;
    QList<QByteArray> requests_;
};
