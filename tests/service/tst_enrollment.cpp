// Enrollment against a real HTTP server on loopback and real bash installers.
#include "service/Enrollment.h"
#include "service/ProcessRunner.h"
#include "service/ServiceManager.h"
#include "service/ServiceTexts.h"
#include "support/LoopbackHttpServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <sys/stat.h>

namespace {

constexpr int kDeadline = 20000;

// Everything one installAndEnroll call reported, in order.
struct Attempt {
    QStringList events; // "progress:<text>" and "completion"
    QStringList progress;
    QList<CommandResult> results;
    bool completedBeforeReturn = false;
    int progressBeforeReturn = 0;
};

std::shared_ptr<Attempt> startAttempt(ServiceManager& manager, const QString& hub,
                                      const QString& code) {
    auto attempt = std::make_shared<Attempt>();
    manager.installAndEnroll(
        hub, code,
        [attempt](const QString& text) {
            attempt->events.append(QStringLiteral("progress:") + text);
            attempt->progress.append(text);
        },
        [attempt](const CommandResult& r) {
            attempt->events.append(QStringLiteral("completion"));
            attempt->results.append(r);
        });
    attempt->completedBeforeReturn = !attempt->results.isEmpty();
    attempt->progressBeforeReturn = int(attempt->progress.size());
    return attempt;
}

QStringList enrollFiles(const QString& dir) {
    return QDir(dir).entryList({QStringLiteral("korvan-enroll-*")},
                               QDir::Files | QDir::Hidden | QDir::System);
}

QByteArray script(const char* body) {
    return QByteArray("#!/bin/sh\n") + body;
}

} // namespace

namespace QTest {
template <>
char* toString(const CommandResult& r) {
    return qstrdup(QStringLiteral("{output=\"%1\" error=\"%2\" status=%3}")
                       .arg(r.output, r.error, QString::number(r.status))
                       .toUtf8()
                       .constData());
}
} // namespace QTest

class EnrollmentTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir root_;
    QString tmp_;
    LoopbackHttpServer* server_ = nullptr;
    ServiceManager* manager_ = nullptr;

    // Runs one attempt to its completion and checks the delivery rules every
    // attempt shares: exactly one result, never before progress has stopped.
    std::shared_ptr<Attempt> enroll(const QString& hub, const QString& code = QStringLiteral("C")) {
        auto attempt = startAttempt(*manager_, hub, code);
        if (!QTest::qWaitFor([&] { return !attempt->results.isEmpty(); }, kDeadline))
            return attempt;
        QCoreApplication::processEvents();
        return attempt;
    }

    const CommandResult& only(const Attempt& a) {
        static const CommandResult none{QStringLiteral("<none>"), QStringLiteral("<none>"), -1};
        return a.results.size() == 1 ? a.results.first() : none;
    }

private Q_SLOTS:
    void init() {
        QVERIFY(root_.isValid());
        tmp_ = root_.filePath(QStringLiteral("tmp-") +
                              QString::number(QDateTime::currentMSecsSinceEpoch()));
        QVERIFY(QDir().mkpath(tmp_));
        qputenv("TMPDIR", QFile::encodeName(tmp_));
        server_ = new LoopbackHttpServer(this);
        QVERIFY(server_->listen());
        manager_ = new ServiceManager(root_.path());
    }
    void cleanup() {
        delete manager_;
        manager_ = nullptr;
        delete server_;
        server_ = nullptr;
        qunsetenv("TMPDIR");
        // Nothing an attempt made may outlive it.
        QCOMPARE(enrollFiles(tmp_), QStringList());
    }

    void rejectsUnusableHubBeforeReturning_data() {
        QTest::addColumn<QString>("hub");
        QTest::newRow("empty") << QString();
        QTest::newRow("blanks and slashes only") << QStringLiteral(" //// \n");
        QTest::newRow("no scheme") << QStringLiteral("hub.example.com");
        QTest::newRow("ftp") << QStringLiteral("ftp://127.0.0.1/");
        QTest::newRow("mailto") << QStringLiteral("mailto:someone@example.com");
        QTest::newRow("space inside") << QStringLiteral("http://exa mple.com");
    }
    void rejectsUnusableHubBeforeReturning() {
        QFETCH(QString, hub);
        auto attempt = startAttempt(*manager_, hub, QStringLiteral("CODE"));
        QVERIFY(attempt->completedBeforeReturn);
        QCOMPARE(attempt->events, QStringList{QStringLiteral("completion")});
        QCOMPARE(only(*attempt), (CommandResult{QString(), ServiceTexts::invalidHub, 64}));
        QCoreApplication::processEvents();
        QCOMPARE(attempt->events.size(), 1);
    }

    void downloadRefusedByServer_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("404") << 404 << QByteArray("not here");
        QTest::newRow("empty 200") << 200 << QByteArray();
        QTest::newRow("500 with a body") << 500 << script("echo never\n");
    }
    void downloadRefusedByServer() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        server_->route("/agent/install.sh", {status, body, {}});
        auto attempt = enroll(server_->baseURL());
        QCOMPARE(attempt->progressBeforeReturn, 1);
        QCOMPARE(attempt->events,
                 (QStringList{QStringLiteral("progress:") + ServiceTexts::downloading,
                              QStringLiteral("completion")}));
        QCOMPARE(only(*attempt), (CommandResult{QString(), ServiceTexts::downloadFailed, 1}));
        QCOMPARE(server_->requestedTargets(), QList<QByteArray>{"/agent/install.sh"});
        QCOMPARE(server_->requests().first().method, QByteArray("GET"));
    }

    void refusedConnectionGivesTransportText() {
        const quint16 port = LoopbackHttpServer::closedPort();
        QVERIFY(port != 0);
        auto attempt = enroll(QStringLiteral("http://127.0.0.1:") + QString::number(port));
        QCOMPARE(attempt->progress, QStringList{ServiceTexts::downloading});
        const CommandResult& r = only(*attempt);
        QCOMPARE(r.status, 1);
        QCOMPARE(r.output, QString());
        QVERIFY2(r.error.contains(QStringLiteral("refused"), Qt::CaseInsensitive),
                 qPrintable(r.error));
    }

    void followsRedirect() {
        server_->redirect("/agent/install.sh", server_->baseURL().toUtf8() + "/moved/install.sh");
        server_->serve("/moved/install.sh", script("echo fetched after redirect\n"));
        auto attempt = enroll(server_->baseURL());
        QCOMPARE(only(*attempt),
                 (CommandResult{QStringLiteral("fetched after redirect\n"), {}, 0}));
        QCOMPARE(server_->requestedTargets(),
                 (QList<QByteArray>{"/agent/install.sh", "/moved/install.sh"}));
    }

    // The hub text reaches the server as the request path and the installer
    // as KORVAN_HUB_URL; both must be independent of how it was typed.
    void hubTextIsNormalised_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expectedHub");
        QTest::addColumn<QByteArray>("expectedTarget");
        QTest::newRow("bare") << ""
                              << ""
                              << ""
                              << "" << QByteArray("/agent/install.sh");
        QTest::newRow("blanks") << "  \t"
                                << "  "
                                << ""
                                << "" << QByteArray("/agent/install.sh");
        QTest::newRow("line breaks") << "\n"
                                     << "\r\n"
                                     << ""
                                     << "" << QByteArray("/agent/install.sh");
        QTest::newRow("ideographic space") << "\u3000"
                                           << "\u3000"
                                           << ""
                                           << "" << QByteArray("/agent/install.sh");
        QTest::newRow("slash runs") << " ///"
                                    << "/////\n"
                                    << ""
                                    << "" << QByteArray("/agent/install.sh");
        QTest::newRow("path kept") << ""
                                   << "/"
                                   << "/base/dir"
                                   << "/base/dir" << QByteArray("/base/dir/agent/install.sh");
        QTest::newRow("path with slash runs") << "\n"
                                              << "///  "
                                              << "/base"
                                              << "/base" << QByteArray("/base/agent/install.sh");
    }
    void hubTextIsNormalised() {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(QString, path);
        QFETCH(QString, expectedHub);
        QFETCH(QByteArray, expectedTarget);
        server_->serve(expectedTarget, script("printf '%s' \"$KORVAN_HUB_URL\"\n"));
        auto attempt = enroll(before + server_->baseURL() + path + after);
        QCOMPARE(only(*attempt), (CommandResult{server_->baseURL() + expectedHub, {}, 0}));
        QCOMPARE(server_->requestedTargets(), QList<QByteArray>{expectedTarget});
    }

    void upperCaseSchemeAcceptedAndPassedAsTyped() {
        server_->serve("/agent/install.sh", script("printf '%s' \"$KORVAN_HUB_URL\"\n"));
        const QString typed =
            QStringLiteral("HTTP://127.0.0.1:") + QString::number(server_->port());
        auto attempt = enroll(typed + QStringLiteral("/"));
        QCOMPARE(only(*attempt), (CommandResult{typed, {}, 0}));
        QCOMPARE(Enrollment::installerURL(QStringLiteral("HtTpS://h.example/x"))->toString(),
                 QStringLiteral("https://h.example/x/agent/install.sh"));
    }

    void installerEnvironment() {
        const QString dump = root_.filePath(QStringLiteral("env.dump"));
        qputenv("KORVAN_PAIR_CODE", "stale-code");
        qputenv("KORVAN_INSTALL_CONTROLLER", "1");
        qputenv("KORVAN_HUB_URL", "https://stale.example");
        qputenv("KORVAN_TEST_INHERITED", "kept = as is\twith tab");
        server_->serve("/agent/install.sh",
                       script("env -0 > ENVDUMP\n").replace("ENVDUMP", QFile::encodeName(dump)));
        const QString code = QStringLiteral(" lower Case ünï ");
        auto attempt = enroll(server_->baseURL(), code);
        const QProcessEnvironment mine = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"KORVAN_PAIR_CODE", "KORVAN_INSTALL_CONTROLLER", "KORVAN_HUB_URL",
                                 "KORVAN_TEST_INHERITED"})
            qunsetenv(name);
        QCOMPARE(only(*attempt).status, 0);

        QFile file(dump);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QMap<QString, QStringList> seen; // a list, so duplicates show up
        for (const QByteArray& entry : file.readAll().split('\0')) {
            const qsizetype eq = entry.indexOf('=');
            if (eq > 0)
                seen[QString::fromUtf8(entry.left(eq))].append(
                    QString::fromUtf8(entry.mid(eq + 1)));
        }
        QCOMPARE(seen.value(QStringLiteral("KORVAN_PAIR_CODE")), QStringList{code});
        QCOMPARE(seen.value(QStringLiteral("KORVAN_INSTALL_CONTROLLER")),
                 QStringList{QStringLiteral("0")});
        QCOMPARE(seen.value(QStringLiteral("KORVAN_HUB_URL")), QStringList{server_->baseURL()});
        // Everything else arrives unchanged, apart from what bash itself sets.
        const QStringList bashOwn{QStringLiteral("_"), QStringLiteral("SHLVL"),
                                  QStringLiteral("PWD"), QStringLiteral("OLDPWD")};
        for (const QString& name : mine.keys()) {
            if (name.startsWith(QStringLiteral("KORVAN_")) && name != u"KORVAN_TEST_INHERITED")
                continue;
            if (bashOwn.contains(name))
                continue;
            QCOMPARE(seen.value(name), QStringList{mine.value(name)});
        }
        for (const QString& name : seen.keys()) {
            if (!bashOwn.contains(name) && !name.startsWith(QStringLiteral("KORVAN_")))
                QVERIFY2(mine.contains(name), qPrintable(name));
        }
    }

    void installerResults_data() {
        QTest::addColumn<QByteArray>("installer");
        QTest::addColumn<CommandResult>("expected");
        QTest::newRow("interleaved streams, exit 0")
            << script("echo out1; echo err1 >&2; echo out2; echo err2 >&2\n")
            << CommandResult{QStringLiteral("out1\nerr1\nout2\nerr2\n"), QString(), 0};
        QTest::newRow("exit 3 repeats the text")
            << script("echo 'step failed'; echo '错误 detail' >&2; exit 3\n")
            << CommandResult{QStringLiteral("step failed\n错误 detail\n"),
                             QStringLiteral("step failed\n错误 detail\n"), 3};
        QTest::newRow("invalid UTF-8")
            << script("printf 'ok \\377\\376 bad'; printf 'more' >&2; exit 5\n")
            << CommandResult{QString(), QString(), 5};
        QTest::newRow("silent success") << script("exit 0\n") << CommandResult{};
        QTest::newRow("grandchild keeps the pipe")
            << script("(sleep 0.3; echo late) &\necho early\n")
            << CommandResult{QStringLiteral("early\nlate\n"), QString(), 0};
    }
    void installerResults() {
        QFETCH(QByteArray, installer);
        QFETCH(CommandResult, expected);
        server_->serve("/agent/install.sh", installer);
        auto attempt = enroll(server_->baseURL());
        QCOMPARE(attempt->progressBeforeReturn, 1);
        QCOMPARE(attempt->events,
                 (QStringList{QStringLiteral("progress:") + ServiceTexts::downloading,
                              QStringLiteral("progress:") + ServiceTexts::installing,
                              QStringLiteral("completion")}));
        QCOMPARE(only(*attempt), expected);
    }

    // The installer looks at its own file while it runs: the name, the place,
    // the mode and that bash got it as the only argument.
    void installerFileIsOwnerOnly() {
        const mode_t previous = ::umask(0); // the mode must not depend on it
        server_->serve("/agent/install.sh",
                       script("echo \"$#|$0\"; stat -c '%a' \"$0\"; "
                              "ls -a \"$(dirname \"$0\")\" | grep -c korvan-enroll-\n"));
        auto attempt = enroll(server_->baseURL());
        ::umask(previous);
        const QStringList lines = only(*attempt).output.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        const QString path = lines[0].section(u'|', 1);
        // bash got the file alone: it became $0, leaving no positional parameter.
        QCOMPARE(lines[0].section(u'|', 0, 0), QStringLiteral("0"));
        QCOMPARE(QFileInfo(path).absolutePath(), QFileInfo(tmp_).absoluteFilePath());
        QVERIFY2(
            QRegularExpression(
                QStringLiteral("^korvan-enroll-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.sh$"))
                .match(QFileInfo(path).fileName())
                .hasMatch(),
            qPrintable(path));
        QCOMPARE(lines[1], QStringLiteral("700"));
        QCOMPARE(lines[2], QStringLiteral("1")); // no auxiliary file beside it
        QVERIFY(!QFileInfo::exists(path));
    }

    void failedWriteLeavesNothing() {
        // A TMPDIR below a regular file cannot be written, even by root.
        const QString blocker = root_.filePath(QStringLiteral("a-file"));
        QFile f(blocker);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        qputenv("TMPDIR", QFile::encodeName(blocker + QStringLiteral("/sub")));
        server_->serve("/agent/install.sh", script("echo never\n"));
        auto attempt = enroll(server_->baseURL());
        QCOMPARE(attempt->progress, QStringList{ServiceTexts::downloading});
        QCOMPARE(only(*attempt), (CommandResult{QString(), systemErrorText(ENOTDIR), 1}));
        QCOMPARE(enrollFiles(root_.path()), QStringList());
    }

    void failedLaunchLeavesNothing() {
        // A single environment string past the kernel's limit makes exec fail.
        const QString hugeCode(200 * 1024, u'X');
        server_->serve("/agent/install.sh", script("echo never\n"));
        auto attempt = enroll(server_->baseURL(), hugeCode);
        QCOMPARE(attempt->progress,
                 (QStringList{ServiceTexts::downloading, ServiceTexts::installing}));
        QCOMPARE(only(*attempt), (CommandResult{QString(), systemErrorText(E2BIG), 1}));
    }

    void nothingArrivesAfterManagerIsGone() {
        const QString started = root_.filePath(QStringLiteral("installer-started"));
        const QString release = root_.filePath(QStringLiteral("installer-release"));
        // The installer holds on until the manager is gone, so its result can
        // only be posted afterwards.
        server_->serve(
            "/agent/install.sh",
            script("touch STARTED\nwhile [ ! -e RELEASE ]; do sleep 0.02; done\necho done\n")
                .replace("STARTED", QFile::encodeName(started))
                .replace("RELEASE", QFile::encodeName(release)));
        auto attempt = startAttempt(*manager_, server_->baseURL(), QStringLiteral("C"));
        QVERIFY(QTest::qWaitFor(
            [&] { return QFileInfo::exists(started) && attempt->progress.size() == 2; },
            kDeadline));
        delete manager_;
        manager_ = nullptr;
        QFile(release).open(QIODevice::WriteOnly);
        // The file goes only after the installer has ended.
        QVERIFY(QTest::qWaitFor([&] { return enrollFiles(tmp_).isEmpty(); }, kDeadline));
        QCoreApplication::processEvents();
        QVERIFY(attempt->results.isEmpty());
        QCOMPARE(attempt->progress,
                 (QStringList{ServiceTexts::downloading, ServiceTexts::installing}));
    }

    void overlappingAttemptsUseTheirOwnFiles() {
        server_->serve("/agent/install.sh", script("echo \"$0\"\n"));
        auto first = startAttempt(*manager_, server_->baseURL(), QStringLiteral("A"));
        auto second = startAttempt(*manager_, server_->baseURL(), QStringLiteral("B"));
        QVERIFY(QTest::qWaitFor(
            [&] { return first->results.size() == 1 && second->results.size() == 1; }, kDeadline));
        QCOMPARE(first->results.first().status, 0);
        QVERIFY(first->results.first().output != second->results.first().output);
    }
};

QTEST_GUILESS_MAIN(EnrollmentTest)
#include "tst_enrollment.moc"
