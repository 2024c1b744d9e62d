// LoopbackHttpServer: a tiny HTTP/1.1 server on 127.0.0.1 for tests.
//
// Main thread only; it answers from the test's own event loop, so a test must
// keep that loop running (QTest::qWaitFor, QSignalSpy::wait) while a request
// is in flight. Each connection carries one request and is closed after the
// answer. Paths without a route get 404 with an empty body.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

class LoopbackHttpServer : public QObject {
    Q_OBJECT
public:
    struct Response {
        int status = 200;
        QByteArray body;
        QByteArray location; // sent as a Location header when not empty
    };
    struct Request {
        QByteArray method;
        QByteArray target;                     // path and query as sent
        QHash<QByteArray, QByteArray> headers; // names in lower case
    };

    explicit LoopbackHttpServer(QObject* parent = nullptr);

    // Listens on 127.0.0.1 on a free port; false when that fails.
    bool listen();
    quint16 port() const { return server_.serverPort(); }
    // "http://127.0.0.1:<port>", without a trailing slash.
    QString baseURL() const;

    void route(const QByteArray& path, Response response);
    void serve(const QByteArray& path, const QByteArray& body) { route(path, {200, body, {}}); }
    void redirect(const QByteArray& path, const QByteArray& location, int status = 302) {
        route(path, {status, {}, location});
    }

    const QList<Request>& requests() const { return requests_; }
    QList<QByteArray> requestedTargets() const;

    // A port on 127.0.0.1 that was free a moment ago and has no listener, for
    // provoking a refused connection.
    static quint16 closedPort();

Q_SIGNALS:
    void requestReceived();

private:
    void onReadable(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const Request& request);

    QTcpServer server_;
    QHash<QByteArray, Response> routes_;
    QList<Request> requests_;
};
