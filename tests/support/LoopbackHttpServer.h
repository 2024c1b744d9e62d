// LoopbackHttpServer: a tiny HTTP/1.1 server on 127.0.0.1 that answers from the test's event
// loop, one request per connection; a path without a route gets an empty 404.
#pragma once

#include <QHash>
#include <QTcpServer>

class LoopbackHttpServer : public QObject {
public:
    struct Response {
        int status = 200; // 0: close without a word; -1: never answer
        QByteArray body;
        // Lines ending in CR LF. Ours states the body's length, unless these name the framing
        // ("Content-Length", "Transfer-Encoding": the body is then sent as given) or the body
        // ends only at the connection's close.
        QByteArray headers;
        bool closeDelimited = false;
    };
    LoopbackHttpServer();
    bool listen() { return server_.listen(QHostAddress::LocalHost, 0); }
    QString baseURL() const;
    void route(const QByteArray& path, Response response) { routes_[path] = std::move(response); }
    void serve(const QByteArray& path, const QByteArray& body) { route(path, {200, body, {}}); }
    // The head of each request so far, from its request line, e.g. "GET /agent/install.sh
    // HTTP/1.1", to its blank line.
    const QList<QByteArray>& requests() const { return requests_; }

private:
    QTcpServer server_;
    QHash<QByteArray, Response> routes_;
    QList<QByteArray> requests_;
};
