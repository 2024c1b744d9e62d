// Enrollment against a real HTTP server on loopback and real bash installers.
#include "service/ProcessRunner.h"
#include "service/ServiceManager.h"
#include "service/ServiceTexts.h"
#include "support/LoopbackHttpServer.h"

#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <sys/stat.h>

using Response = LoopbackHttpServer::Response;
Q_DECLARE_METATYPE(Response)

namespace {

constexpr int kDeadline = 20000;
constexpr qsizetype kLimit = 64 * 1024 * 1024;
const QString kAnyError = QStringLiteral("<the transport's own text>");
const QString kDone = QStringLiteral("<completed>");

struct Attempt {
    QStringList events; // progress texts, and kDone for each completion
    CommandResult result;
    qsizetype eventsBeforeReturn = 0;
};

QByteArray script(const QByteArray& body) {
    return "#!/bin/sh\n" + body;
}

// What an installer that ran leaves: its text, again as the error unless it exited 0.
CommandResult installed(const char* text, int status) {
    const QString t = QString::fromUtf8(text);
    return {t, status ? t : QString(), status};
}

} // namespace

namespace QTest {
template <>
char* toString(const CommandResult& r) {
    return qstrdup(qPrintable(QStringLiteral("{output=\"%1\" error=\"%2\" status=%3}")
                                  .arg(r.output, r.error, QString::number(r.status))));
}
} // namespace QTest

class EnrollmentTest : public QObject {
    Q_OBJECT
    QTemporaryDir root_;
    QString tmp_;
    LoopbackHttpServer* server_ = nullptr;
    ServiceManager* manager_ = nullptr;

    std::shared_ptr<Attempt> start(const QString& hub, const QString& code) {
        auto a = std::make_shared<Attempt>();
        manager_->installAndEnroll(
            hub, code, [a](const QString& text) { a->events << text; },
            [a](const CommandResult& r) { a->result = r, a->events << kDone; });
        a->eventsBeforeReturn = a->events.size();
        return a;
    }
    // To the end: a second completion would show as a second kDone.
    std::shared_ptr<Attempt> enroll(const QString& hub, const QString& code = QStringLiteral("C")) {
        auto a = start(hub, code);
        static_cast<void>(QTest::qWaitFor([&] { return a->events.contains(kDone); }, kDeadline));
        QCoreApplication::processEvents();
        return a;
    }
    QStringList enrollFiles() const {
        return QDir(tmp_).entryList({QStringLiteral("korvan-enroll-*")},
                                    QDir::Files | QDir::System);
    }

private Q_SLOTS:
    void init() {
        static int round = 0;
        tmp_ = QDir(root_.path()).filePath(QString::number(++round));
        QVERIFY(QDir().mkpath(tmp_));
        qputenv("TMPDIR", QFile::encodeName(tmp_));
        server_ = new LoopbackHttpServer(this);
        QVERIFY(server_->listen());
        manager_ = new ServiceManager(root_.path(), std::chrono::milliseconds(500));
    }
    void cleanup() {
        delete manager_;
        delete server_;
        QCOMPARE(enrollFiles(), QStringList()); // nothing an attempt made outlives it
    }

    void refusedBeforeAnyProgress_data() {
        QTest::addColumn<QString>("hub");
        QTest::addColumn<QString>("code");
        QTest::addColumn<CommandResult>("expected");
        const CommandResult badHub{{}, ServiceTexts::invalidHub, 64};
        const QString hub = QStringLiteral("http://127.0.0.1:9");
        QTest::newRow("slashes and blanks only") << " //// \n"
                                                 << "C" << badHub;
        QTest::newRow("no scheme") << "hub.example.com"
                                   << "C" << badHub;
        QTest::newRow("ftp") << "ftp://127.0.0.1/"
                             << "C" << badHub;
        QTest::newRow("space inside") << "http://exa mple.com"
                                      << "C" << badHub;
        QTest::newRow("NUL in the hub") << hub + u'/' + QChar(0) << "C" << badHub;
        QTest::newRow("NUL in the code") << hub << QStringLiteral("ABCD\0-EVIL")
                                         << CommandResult{{}, ServiceTexts::invalidPairCode, 1};
    }
    void refusedBeforeAnyProgress() {
        QFETCH(QString, hub);
        QFETCH(QString, code);
        auto a = start(hub, code);
        QCOMPARE(a->eventsBeforeReturn, 1);
        QCOMPARE(a->events, QStringList{kDone});
        QTEST(a->result, "expected");
    }

    void outcomes_data() {
        QTest::addColumn<Response>("response");
        QTest::addColumn<CommandResult>("expected");
        QTest::addColumn<bool>("ran");
        const CommandResult failed{{}, ServiceTexts::downloadFailed, 1};
        const CommandResult transport{{}, kAnyError, 1};
        const QByteArray noLength = "X-No-Content-Length: 1\r\n";
        const QByteArray ran = script("echo ran; exit 0\n");
        QTest::newRow("404") << Response{404, "not here", {}} << failed << false;
        QTest::newRow("empty 200") << Response{200, {}, {}} << failed << false;
        QTest::newRow("500 with a body") << Response{500, ran, {}} << failed << false;
        QTest::newRow("closed unanswered") << Response{0, {}, {}} << transport << false;
        QTest::newRow("broken gzip")
            << Response{200, ran, "Content-Encoding: gzip\r\n"} << transport << false;
        QTest::newRow("silent hub")
            << Response{-1, {}, {}} << CommandResult{{}, ServiceTexts::requestTimedOut, 1} << false;
        QTest::newRow("Content-Length past 64 MiB")
            << Response{200, ran, "Content-Length: 67108865\r\n"} << failed << false;
        QTest::newRow("body of 64 MiB") << Response{200, ran.leftJustified(kLimit, '#'), noLength}
                                        << installed("ran\n", 0) << true;
        QTest::newRow("body past 64 MiB")
            << Response{200, ran.leftJustified(kLimit + 1, '#'), noLength} << failed << false;
        QTest::newRow("both streams, exit 0")
            << Response{200, script("echo o1; echo e1 >&2; echo o2; echo e2 >&2\n"), {}}
            << installed("o1\ne1\no2\ne2\n", 0) << true;
        QTest::newRow("exit 3 repeats the text")
            << Response{200, script("echo '错误 x' >&2; exit 3\n"), {}} << installed("错误 x\n", 3)
            << true;
        QTest::newRow("not UTF-8")
            << Response{200, script("printf '\\377'; exit 5\n"), {}} << installed("", 5) << true;
        QTest::newRow("grandchild keeps the pipe")
            << Response{200, script("(sleep 0.3; echo late) &\necho early\n"), {}}
            << installed("early\nlate\n", 0) << true;
    }
    void outcomes() {
        QFETCH(Response, response);
        QFETCH(CommandResult, expected);
        QFETCH(bool, ran);
        server_->route("/agent/install.sh", response);
        auto a = enroll(server_->baseURL());
        QStringList events{ServiceTexts::downloading, kDone};
        if (ran)
            events.insert(1, ServiceTexts::installing);
        QCOMPARE(a->events, events);
        const QStringList ours{QString(), ServiceTexts::downloadFailed,
                               ServiceTexts::requestTimedOut};
        if (expected.error == kAnyError && !ours.contains(a->result.error))
            expected.error = a->result.error;
        QCOMPARE(a->result, expected);
    }

    // The hub text is the request path's base and, as typed, KORVAN_HUB_URL.
    void hubText_data() {
        QTest::addColumn<QString>("typed"); // %1: 127.0.0.1:<port>
        QTest::addColumn<QString>("hub");
        QTest::addColumn<QByteArray>("path");
        QTest::newRow("blanks, slash runs") << "\u3000 ///http://%1///\r\n"
                                            << "http://%1" << QByteArray("/agent/install.sh");
        QTest::newRow("path kept")
            << "\nhttp://%1/base/dir///  "
            << "http://%1/base/dir" << QByteArray("/base/dir/agent/install.sh");
        QTest::newRow("scheme as typed") << "HTTP://%1/"
                                         << "HTTP://%1" << QByteArray("/agent/install.sh");
    }
    void hubText() {
        QFETCH(QString, typed);
        QFETCH(QString, hub);
        QFETCH(QByteArray, path);
        const QString host = server_->baseURL().mid(7);
        server_->serve(path, script("printf '%s' \"$KORVAN_HUB_URL\"\n"));
        QCOMPARE(enroll(typed.arg(host))->result, (CommandResult{hub.arg(host), {}, 0}));
        QCOMPARE(server_->requests(), QList<QByteArray>{"GET " + path});
    }

    void installerEnvironment() {
        QProcessEnvironment expected = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"KORVAN_PAIR_CODE", "KORVAN_INSTALL_CONTROLLER", "KORVAN_HUB_URL"})
            qputenv(name, "stale");
        const QString code = QStringLiteral(" lower Case ünï ");
        expected.insert(QStringLiteral("KORVAN_PAIR_CODE"), code);
        expected.insert(QStringLiteral("KORVAN_INSTALL_CONTROLLER"), QStringLiteral("0"));
        expected.insert(QStringLiteral("KORVAN_HUB_URL"), server_->baseURL());
        for (const char* name : {"_", "SHLVL", "PWD", "OLDPWD"})
            expected.remove(QString::fromLatin1(name));
        // One entry a line, bash's own variables left out.
        server_->serve("/agent/install.sh",
                       script("env -u _ -u SHLVL -u PWD -u OLDPWD | LC_ALL=C sort\n"));
        const CommandResult r = enroll(server_->baseURL(), code)->result;
        for (const char* name : {"KORVAN_PAIR_CODE", "KORVAN_INSTALL_CONTROLLER", "KORVAN_HUB_URL"})
            qunsetenv(name);
        QStringList lines = expected.toStringList();
        lines.sort(); // the same order as LC_ALL=C sort for these ASCII names
        QCOMPARE(r, (CommandResult{lines.join(u'\n') + u'\n', {}, 0}));
    }

    // The installer looks at its own file while it runs.
    void installerFileIsOwnerOnly() {
        const mode_t previous = ::umask(0); // the mode must not depend on it
        server_->serve("/agent/install.sh",
                       script("echo \"$#\" \"$0\" $(stat -c %a \"$0\") $(ls \"${0%/*}\" | wc -l)"));
        const QStringList seen = enroll(server_->baseURL())->result.output.split(u' ');
        ::umask(previous);
        QCOMPARE(seen.size(), 4);
        QCOMPARE(seen[0], QStringLiteral("0")); // the file is bash's only argument
        QCOMPARE(QFileInfo(seen[1]).absolutePath(), tmp_);
        QVERIFY2(
            QRegularExpression(
                QStringLiteral("^korvan-enroll-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.sh$"))
                .match(QFileInfo(seen[1]).fileName())
                .hasMatch(),
            qPrintable(seen[1]));
        QCOMPARE(seen[2], QStringLiteral("700"));
        QCOMPARE(seen[3], QStringLiteral("1\n")); // no auxiliary file beside it
    }

    void failuresBeforeTheInstallerRuns_data() {
        QTest::addColumn<bool>("unwritable");
        QTest::addColumn<QString>("code");
        QTest::addColumn<int>("error");
        QTest::newRow("TMPDIR below a file") << true << "C" << ENOTDIR;
        QTest::newRow("environment past the kernel limit")
            << false << QString(200000, u'X') << E2BIG;
    }
    void failuresBeforeTheInstallerRuns() {
        QFETCH(bool, unwritable);
        QFETCH(QString, code);
        QFETCH(int, error);
        if (unwritable) { // even root cannot write below a regular file
            QVERIFY(QFile(QDir(tmp_).filePath(QStringLiteral(".tmp"))).open(QIODevice::WriteOnly));
            qputenv("TMPDIR", QFile::encodeName(QDir(tmp_).filePath(QStringLiteral(".tmp/sub"))));
        }
        server_->serve("/agent/install.sh", script("echo never\n"));
        auto a = enroll(server_->baseURL(), code);
        QCOMPARE(a->events.size(), unwritable ? 2 : 3);
        QCOMPARE(a->result, (CommandResult{{}, systemErrorText(error), 1}));
    }

    void nothingArrivesAfterTheManagerIsGone() {
        // The installer waits until the manager is gone, so its result can
        // only be posted afterwards.
        const QString gate = QDir(tmp_).filePath(QStringLiteral("gate"));
        server_->serve("/agent/install.sh", script("while [ ! -e '" + QFile::encodeName(gate) +
                                                   "' ]; do sleep 0.02; done"));
        auto a = start(server_->baseURL(), QStringLiteral("C"));
        QVERIFY(QTest::qWaitFor([&] { return enrollFiles().size() == 1; }, kDeadline));
        delete manager_;
        manager_ = nullptr;
        QVERIFY(QFile(gate).open(QIODevice::WriteOnly));
        QVERIFY(QTest::qWaitFor([&] { return enrollFiles().isEmpty(); }, kDeadline));
        QCoreApplication::processEvents();
        QVERIFY(!a->events.contains(kDone));
    }

    void overlappingAttemptsUseTheirOwnFiles() {
        server_->serve("/agent/install.sh", script("echo \"$0\"\n"));
        auto first = start(server_->baseURL(), QStringLiteral("A"));
        auto second = enroll(server_->baseURL(), QStringLiteral("B"));
        QVERIFY(QTest::qWaitFor([&] { return first->events.contains(kDone); }, kDeadline));
        QVERIFY(first->result.output != second->result.output);
    }
};

QTEST_GUILESS_MAIN(EnrollmentTest)
#include "tst_enrollment.moc"
