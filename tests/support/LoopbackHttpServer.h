// LoopbackHttpServer: a tiny HTTP/1.1 server on 127.0.0.1 for tests.
//
// Main thread only; it answers from the test's own event loop, so a test must
// keep that loop running (QTest::qWaitFor) while a request is in flight. One
// request per connection, closed after the answer. Paths without a route get
// 404 with an empty body.
#pragma once

#include <QHash>
#include <QList>
#include <QTcpServer>

class LoopbackHttpServer : public QObject {
public:
    struct Response {
        int status = 200; // 0: close without a word; -1: keep the connection, never answer
        QByteArray body;
        // Extra header lines, each ending in CR LF. When they mention
        // "Content-Length" (even as "X-No-Content-Length") none is added, and
        // without one the body ends where the connection does.
        QByteArray headers;
    };

    explicit LoopbackHttpServer(QObject* parent = nullptr);
    bool listen() { return server_.listen(QHostAddress::LocalHost, 0); }
    QString baseURL() const;
    void route(const QByteArray& path, Response response) { routes_[path] = std::move(response); }
    void serve(const QByteArray& path, const QByteArray& body) { route(path, {200, body, {}}); }
    // The request line of every request so far, e.g. "GET /agent/install.sh".
    const QList<QByteArray>& requests() const { return requests_; }

private:
    void answer(QTcpSocket* socket);

    QTcpServer server_;
    QHash<QByteArray, Response> routes_;
    QList<QByteArray> requests_;
};
