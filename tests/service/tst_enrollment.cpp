// Enrollment against a real HTTP server on loopback and real bash installers.
#include "core/SystemError.h"
#include "service/ServiceManager.h"
#include "service/ServiceTexts.h"
#include "support/LoopbackHttpServer.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using Response = LoopbackHttpServer::Response;
Q_DECLARE_METATYPE(Response)

// The result as one event, "output|error|status[|detail]", after the progress texts.
static QString resultOf(const CommandResult& r) {
    return r.output.toString() + u'|' + r.error.toString() + u'|' + QString::number(r.status) +
           (r.detail.isEmpty() ? QString() : u'|' + r.detail);
}

static Response installer(const QByteArray& body, const QByteArray& headers = {}) {
    return {200, "#!/bin/sh\n" + body, headers};
}

class EnrollmentTest : public QObject {
    Q_OBJECT
    QTemporaryDir root_;
    const QString tmp_ = root_.filePath(QStringLiteral("tmp"));
    LoopbackHttpServer server_;
    std::unique_ptr<ServiceManager> manager_;

    // Each progress text, then the result, as they arrive.
    std::shared_ptr<QStringList> start(const QString& hub, const QString& code = {}) {
        auto events = std::make_shared<QStringList>();
        manager_->installAndEnroll(
            hub, code, [events](const QString& text) { *events << text; },
            [events](const CommandResult& r) { *events << resultOf(r); });
        return events;
    }
    QStringList finish(const std::shared_ptr<QStringList>& events) {
        static_cast<void>(QTest::qWaitFor([&] { return events->last().contains(u'|'); }, 20000));
        QCoreApplication::processEvents(); // a second result would show
        return *events;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(QDir().mkpath(tmp_));
        QVERIFY(server_.listen());
        ::umask(0); // the installer's mode must not depend on it
        for (const char* name : {"KORVAN_PAIR_CODE", "KORVAN_INSTALL_CONTROLLER", "KORVAN_HUB_URL"})
            qputenv(name, "stale");
        qputenv("KORVAN_OTHER", " kept = as\tis ");
    }
    void init() {
        qputenv("TMPDIR", QFile::encodeName(tmp_));
        manager_ = std::make_unique<ServiceManager>(QFile::encodeName(root_.path()));
    }
    void cleanup() {
        manager_.reset();
        QVERIFY(QDir(tmp_).isEmpty()); // nothing an attempt made outlives it
    }

    void attempt_data() {
        QTest::addColumn<QString>("hub"); // %1: the server's host and port
        QTest::addColumn<QString>("code");
        QTest::addColumn<Response>("response"); // at /agent/install.sh
        QTest::addColumn<int>("progress");      // texts sent; 0: completed before returning
        QTest::addColumn<QString>("result");    // a pattern when it starts with "^"
        const QString hub = QStringLiteral("http://%1"), c = QStringLiteral("C");
        const QString badHub = resultOf({{}, ServiceTexts::invalidHub, 64});
        const QString failed = u"^\\|%1\\|1\\|http://%2/agent/install\\.sh: "_qs; // |detail
        const QString fail = failed.arg(ServiceTexts::downloadFailed, u"%1"_qs);
        const QString tooBig = fail + u"HTTP 200: the installer is larger than 64 MiB$";
        const QByteArray big = installer("echo ran; exit 0\n").body.leftJustified(64 << 20, '#');
        const auto chunked = [](const QByteArray& body) { // one chunk, then the last one
            return Response{200,
                            QByteArray::number(body.size(), 16) + "\r\n" + body + "\r\n0\r\n\r\n",
                            "Transfer-Encoding: chunked\r\n"};
        };
        const QByteArray script = installer("echo ran").body, length = "Content-Length: 18\r\n";
        const Response ok = installer("printf %s \"$KORVAN_HUB_URL\"");
        QTest::newRow("ftp") << "ftp://127.0.0.1/" << c << ok << 0 << badHub;
        QTest::newRow("NUL in the hub") << hub + u'/' + QChar(0) << c << ok << 0 << badHub;
        QTest::newRow("NUL in the code") << hub << QStringLiteral("AB\0-EVIL") << ok << 0
                                         << resultOf({{}, ServiceTexts::invalidPairCode, 1});
        QTest::newRow("blanks, slash runs") << "\u3000 ///http://%1///\r\n"
                                            << c << ok << 2 << "http://%1||0";
        QTest::newRow("scheme as typed") << "HTTP://%1/" << c << ok << 2 << "HTTP://%1||0";
        QTest::newRow("path kept") << "http://%1/base//" << c << ok << 2 << "from base\n||0";
        QTest::newRow("404") << hub << c << Response{404, "no", {}} << 1 << fail + u"HTTP 404$";
        QTest::newRow("empty 200")
            << hub << c << Response{200, {}, {}} << 1 << fail + u"HTTP 200: the body is empty$";
        QTest::newRow("silent hub")
            << hub << c << Response{-1, {}, {}} << 1
            << failed.arg(ServiceTexts::requestTimedOut, u"%1"_qs) + u"nothing arrived for 0.3 s$";
        QTest::newRow("Content-Length past 64 MiB")
            << hub << c << installer("echo ran", "Content-Length: 67108865\r\n") << 1 << tooBig;
        QTest::newRow("chunked, 64 MiB") << hub << c << chunked(big) << 2 << "ran\n||0";
        QTest::newRow("chunked, past 64 MiB") << hub << c << chunked(big + '#') << 1 << tooBig;
        QTest::newRow("gzip") << hub << c << installer("echo ran", "Content-Encoding: gzip\r\n")
                              << 1 << fail + u"HTTP 200: Content-Encoding gzip is not accepted$";
        QTest::newRow("two equal lengths")
            << hub << c << Response{200, script, length + length} << 1
            << fail + u"HTTP 200: Content-Length is not one number: 18, 18$";
        QTest::newRow("ends at the close") << hub << c << Response{200, script, {}, true} << 1
                                           << fail + u"HTTP 200: the end of the body is not known$";
        QTest::newRow("environment past the kernel limit")
            << hub << QString(200000, u'X') << ok << 2 << resultOf({{}, systemErrorText(E2BIG), 1});
        // initTestCase left stale values under these names, and one more to pass on.
        QTest::newRow("environment")
            << hub << " lower ünï "
            << installer("echo \"$KORVAN_PAIR_CODE|$KORVAN_INSTALL_CONTROLLER|$KORVAN_OTHER\"") << 2
            << " lower ünï |0| kept = as\tis \n||0";
        // Its own file: bash's only argument, in TMPDIR, a new UUID, 700 whatever the umask, alone.
        QTest::newRow("installer file")
            << hub << c << installer("echo $# \"${0%/*}\" $(stat -c %a \"$0\") $(ls \"${0%/*}\")")
            << 2
            << "^0 %T 700 korvan-enroll-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.sh\n\\|\\|0$";
        QTest::newRow("both streams, exit 3 repeats them")
            << hub << c << installer("echo o1; echo '错误' >&2; echo o2; exit 3") << 2
            << "o1\n错误\no2\n|o1\n错误\no2\n|3";
    }
    void attempt() {
        QFETCH(QString, hub);
        QFETCH(QString, code);
        QFETCH(Response, response);
        QFETCH(int, progress);
        QFETCH(QString, result);
        const QString host = server_.baseURL().mid(7);
        server_.route("/agent/install.sh", response);
        server_.route("/base/agent/install.sh", installer("echo from base"));
        if (response.status < 0) // silent: a short transfer limit, so that it ends soon
            manager_ = std::make_unique<ServiceManager>(QFile::encodeName(root_.path()),
                                                        std::chrono::milliseconds(300));
        auto events = start(hub.replace(QStringLiteral("%1"), host), code);
        const QStringList atReturn = *events, seen = finish(events);
        const QStringList sent{ServiceTexts::downloading, ServiceTexts::installing};
        QCOMPARE(atReturn, progress ? sent.first(1) : seen); // 0: done on return, and for good
        QCOMPARE(seen.first(seen.size() - 1), sent.first(progress));
        result.replace(QStringLiteral("%1"), host).replace(QStringLiteral("%T"), tmp_);
        if (result.startsWith(u'^') && QRegularExpression(result).match(seen.last()).hasMatch())
            result = seen.last();
        QCOMPARE(seen.last(), result);
    }

    void asksForTheBodyAsItIs() { // of a hub that would compress it
        server_.route("/agent/install.sh", installer("exit 0"));
        finish(start(server_.baseURL()));
        QVERIFY(server_.requests().last().toLower().contains("\r\naccept-encoding: identity\r\n"));
    }

    void unwritableTemporaryDirectory() { // even root cannot write below a regular file
        QVERIFY(QFile(root_.filePath(QStringLiteral("f"))).open(QIODevice::WriteOnly));
        qputenv("TMPDIR", QFile::encodeName(root_.filePath(QStringLiteral("f/sub"))));
        server_.route("/agent/install.sh", installer("echo never"));
        QCOMPARE(
            finish(start(server_.baseURL())),
            (QStringList{ServiceTexts::downloading, resultOf({{}, systemErrorText(ENOTDIR), 1})}));
    }

    void nothingArrivesAfterTheManagerIsGone() {
        // The installer waits until the manager is gone: its file goes at once,
        // the installer itself is left to finish, and no result follows.
        const QString gate = root_.filePath(QStringLiteral("gate"));
        server_.route("/agent/install.sh", installer("cd '" + QFile::encodeName(root_.path()) +
                                                     "'; : >up; until [ -e gate ]; do sleep 0.02; "
                                                     "done; : >ran"));
        auto events = start(server_.baseURL());
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(root_.filePath(u"up"_qs)); }, 20000));
        manager_.reset();
        QVERIFY(QDir(tmp_).isEmpty());
        QVERIFY(QFile(gate).open(QIODevice::WriteOnly));
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(root_.filePath(u"ran"_qs)); }, 20000));
        QCoreApplication::processEvents();
        QCOMPARE(events->size(), 2);
    }
};

QTEST_GUILESS_MAIN(EnrollmentTest)
#include "tst_enrollment.moc"
