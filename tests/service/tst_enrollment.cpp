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

static Response installer(const QByteArray& body, const QByteArray& headers = {}) {
    return {200, "#!/bin/sh\n" + body, headers};
}

class EnrollmentTest : public QObject {
    Q_OBJECT
    QTemporaryDir root_;
    const QString tmp_ = root_.filePath(QStringLiteral("tmp"));
    LoopbackHttpServer server_;
    std::unique_ptr<ServiceManager> manager_;

    // The progress texts and the results of an attempt, as they arrive.
    struct Seen {
        QStringList progress;
        QList<CommandResult> results;
    };
    std::shared_ptr<Seen> start(const QString& hub, const QString& code = {}) {
        auto seen = std::make_shared<Seen>();
        manager_->installAndEnroll(
            hub, code, [seen](const QString& text) { seen->progress << text; },
            [seen](const CommandResult& r) { seen->results << r; });
        return seen;
    }
    Seen finish(const std::shared_ptr<Seen>& seen) {
        static_cast<void>(QTest::qWaitFor([&] { return !seen->results.isEmpty(); }, 20000));
        QCoreApplication::processEvents(); // a second result would show
        return *seen;
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
        QTest::addColumn<Response>("response");    // at /agent/install.sh
        QTest::addColumn<int>("progress");         // texts sent; 0: completed before returning
        QTest::addColumn<CommandResult>("result"); // output is a pattern when it starts with "^"
        const QString hub = QStringLiteral("http://%1"), c = QStringLiteral("C");
        const CommandResult badHub{{}, u"Korvan 地址无效。"_qs, 64};
        const auto failure = [](const QString& error, const QString& why) {
            return CommandResult{{}, error, 1, u"http://%1/agent/install.sh: "_qs + why};
        };
        const auto fail = [&](const QString& why) {
            return failure(ServiceTexts::downloadFailed, why);
        };
        const auto ran = [](const QString& output) { return CommandResult{output, {}, 0}; };
        const CommandResult tooBig = fail(u"HTTP 200: the installer is larger than 64 MiB"_qs);
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
                                         << CommandResult{{}, u"配对码包含无效字符。"_qs, 1};
        QTest::newRow("blanks, slash runs") << "\u3000 ///http://%1///\r\n"
                                            << c << ok << 2 << ran(u"http://%1"_qs);
        QTest::newRow("scheme as typed") << "HTTP://%1/" << c << ok << 2 << ran(u"HTTP://%1"_qs);
        QTest::newRow("path kept") << "http://%1/base//" << c << ok << 2 << ran(u"from base\n"_qs);
        QTest::newRow("300") << hub << c << Response{300, script, {}} << 1 << fail(u"HTTP 300"_qs);
        QTest::newRow("empty 200")
            << hub << c << Response{200, {}, {}} << 1 << fail(u"HTTP 200: the body is empty"_qs);
        QTest::newRow("silent hub") << hub << c << Response{-1, {}, {}} << 1
                                    << failure(u"请求超时。"_qs, u"nothing arrived for 0.3 s"_qs);
        QTest::newRow("Content-Length past 64 MiB")
            << hub << c << installer("echo ran", "Content-Length: 67108865\r\n") << 1 << tooBig;
        QTest::newRow("chunked, 64 MiB") << hub << c << chunked(big) << 2 << ran(u"ran\n"_qs);
        QTest::newRow("chunked, past 64 MiB") << hub << c << chunked(big + '#') << 1 << tooBig;
        QTest::newRow("gzip") << hub << c << installer("echo ran", "Content-Encoding: gzip\r\n")
                              << 1 << fail(u"HTTP 200: Content-Encoding gzip is not accepted"_qs);
        QTest::newRow("two equal lengths")
            << hub << c << Response{200, script, length + length} << 1
            << fail(u"HTTP 200: Content-Length is not one number: 18, 18"_qs);
        QTest::newRow("ends at the close")
            << hub << c << Response{200, script, {}, true} << 1
            << fail(u"HTTP 200: the end of the body is not known"_qs);
        QTest::newRow("environment past the kernel limit")
            << hub << QString(200000, u'X') << ok << 2
            << CommandResult{{}, systemErrorText(E2BIG), 1};
        // initTestCase left stale values under these names, and one more to pass on.
        QTest::newRow("environment")
            << hub << " lower ünï "
            << installer("echo \"$KORVAN_PAIR_CODE|$KORVAN_INSTALL_CONTROLLER|$KORVAN_OTHER\"") << 2
            << ran(u" lower ünï |0| kept = as\tis \n"_qs);
        // Its own file: bash's only argument, in TMPDIR, a new UUID, 700 whatever the umask, alone.
        QTest::newRow("installer file")
            << hub << c << installer("echo $# \"${0%/*}\" $(stat -c %a \"$0\") $(ls \"${0%/*}\")")
            << 2
            << ran(u"^0 %T 700 korvan-enroll-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.sh\n$"_qs);
        QTest::newRow("TMPDIR below a file") // where even root cannot write
            << hub << c << ok << 1 << CommandResult{{}, systemErrorText(ENOTDIR), 1};
        QTest::newRow("both streams, exit 3 repeats them")
            << hub << c << installer("echo o1; echo '错误' >&2; echo o2; exit 3") << 2
            << CommandResult{u"o1\n错误\no2\n"_qs, u"o1\n错误\no2\n"_qs, 3};
    }
    void attempt() {
        QFETCH(QString, hub);
        QFETCH(QString, code);
        QFETCH(Response, response);
        QFETCH(int, progress);
        QFETCH(CommandResult, result);
        const QString host = server_.baseURL().mid(7);
        server_.route("/agent/install.sh", response);
        server_.route("/base/agent/install.sh", installer("echo from base"));
        if (QTest::currentDataTag() == QByteArray("TMPDIR below a file"))
            qputenv("TMPDIR", "/dev/null/sub");
        if (response.status < 0) // silent: a short transfer limit, so that it ends soon
            manager_ = std::make_unique<ServiceManager>(QFile::encodeName(root_.path()),
                                                        std::chrono::milliseconds(300));
        auto events = start(hub.replace(QStringLiteral("%1"), host), code);
        const Seen atReturn = *events, seen = finish(events);
        const QStringList sent{u"正在下载安装程序..."_qs, u"正在安装 Agent 与 Local Bridge..."_qs};
        QCOMPARE(atReturn.progress, sent.first(std::min(progress, 1)));
        QCOMPARE(atReturn.results.size(), progress ? 0 : 1); // 0: done on return, and for good
        QCOMPARE(seen.progress, sent.first(progress));
        QCOMPARE(seen.results.size(), 1);
        const CommandResult got = seen.results.value(0);
        const auto fill = [&](QString text) {
            return text.replace(QStringLiteral("%1"), host).replace(QStringLiteral("%T"), tmp_);
        };
        const QString output = fill(result.output.toString());
        if (output.startsWith(u'^'))
            QVERIFY2(QRegularExpression(output).match(got.output.toString()).hasMatch(),
                     qPrintable(got.output.toString()));
        else
            QCOMPARE(got.output.toString(), output);
        QCOMPARE(got.error.toString(), result.error.toString());
        QCOMPARE(got.status, result.status);
        QCOMPARE(got.detail, fill(result.detail));
    }

    void asksForTheBodyAsItIs() { // of a hub that would compress it
        server_.route("/agent/install.sh", installer("exit 0"));
        finish(start(server_.baseURL()));
        QVERIFY(server_.requests().last().toLower().contains("\r\naccept-encoding: identity\r\n"));
    }
};

QTEST_GUILESS_MAIN(EnrollmentTest)
#include "tst_enrollment.moc"
