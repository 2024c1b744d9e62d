// korvanctl pair, run as the built binary against a loopback hub.
#include "core/PairingTexts.h"
#include "service/ServiceTexts.h"
#include "support/LoopbackHttpServer.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Records what the installer saw and, when asked to, leaves the pairing file
// behind the way a real installer does.
const QByteArray kInstaller = R"(#!/bin/bash
printf '%s|%s\n' "$KORVAN_HUB_URL" "$KORVAN_PAIR_CODE" > "$KORVAN_APP_SUPPORT_DIR/seen"
case "$KORVAN_PAIR_CODE" in
  FAIL*) echo 'installer: code rejected'; echo '  hub said no  ' >&2; exit 3 ;;
  NOPAIR*) echo 'installed, but no pairing'; exit 0 ;;
esac
printf 'KORVAN_AGENT_HOST_ID=h1\nKORVAN_AGENT_TOKEN=t1\n' > "$KORVAN_APP_SUPPORT_DIR/.env"
echo 'installer done'
)";

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

} // namespace

class PairCommandTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir home_;
    LoopbackHttpServer server_;

    QString supportDir() const { return home_.filePath(QStringLiteral("support")); }

    Run korvanctl(const QStringList& args) {
        QDir(supportDir()).removeRecursively();
        QDir().mkpath(supportDir());
        QDir().mkpath(home_.filePath(QStringLiteral("tmp")));
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home_.path());
        env.insert(QStringLiteral("TMPDIR"), home_.filePath(QStringLiteral("tmp")));
        env.insert(QStringLiteral("KORVAN_APP_SUPPORT_DIR"), supportDir());
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(KORVANCTL_PATH), QStringList{QStringLiteral("pair")} + args);
        // The hub answers from this event loop, so it must keep running.
        if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 30000))
            process.kill();
        process.waitForFinished();
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    QString seen() const {
        QFile file(QDir(supportDir()).filePath(QStringLiteral("seen")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed()
                                              : QString();
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(home_.isValid());
        QVERIFY(server_.listen());
        server_.serve("/agent/install.sh", kInstaller);
    }

    void pair_data() {
        const QString hub = server_.baseURL();
        const QString progress =
            ServiceTexts::downloading + u'\n' + ServiceTexts::installing + u'\n';
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::addColumn<QString>("seenByInstaller");

        const QString success = PairingTexts::success + u'\n';
        QTest::newRow("hub and code, trimmed and upper-cased")
            << QStringList{u"--hub"_qs, u"  "_qs + hub + u"/ \n"_qs, u"--code"_qs, u" ab-cd "_qs}
            << 0 << success << progress << hub + u"|AB-CD"_qs;
        QTest::newRow("link fills both")
            << QStringList{u"--link"_qs, u"KORVAN://pair?hub="_qs + hub + u"&code=li%20nk"_qs} << 0
            << success << progress << hub + u"|LI NK"_qs;
        QTest::newRow("options win over the link")
            << QStringList{u"--link"_qs, u"korvan://p?hub=http://127.0.0.1:1&code=old"_qs,
                           u"--code=new"_qs, u"--hub"_qs, hub}
            << 0 << success << progress << hub + u"|NEW"_qs;
        QTest::newRow("verbose prints the installer output first")
            << QStringList{u"--verbose"_qs, u"--hub"_qs, hub, u"--code"_qs, u"v"_qs} << 0
            << u"installer done\n"_qs + success << progress << hub + u"|V"_qs;
        QTest::newRow("installer failure keeps its status")
            << QStringList{u"--hub"_qs, hub, u"--code"_qs, u"fail"_qs} << 3 << QString()
            << progress + u"installer: code rejected\n  hub said no\n"_qs.trimmed() + u'\n'
            << hub + u"|FAIL"_qs;
        QTest::newRow("exit 0 without pairing is a failure")
            << QStringList{u"--hub"_qs, hub, u"--code"_qs, u"nopair"_qs} << 1 << QString()
            << progress + u"installed, but no pairing\n"_qs << hub + u"|NOPAIR"_qs;
        QTest::newRow("unusable hub")
            << QStringList{u"--hub"_qs, u"ftp://x"_qs, u"--code"_qs, u"c"_qs} << 64 << QString()
            << ServiceTexts::invalidHub + u'\n' << QString();
        QTest::newRow("link without code")
            << QStringList{u"--link"_qs, u"korvan://p?hub="_qs + hub} << 2 << QString()
            << PairingTexts::emptyCode + u'\n' << QString();
        QTest::newRow("blank code") << QStringList{u"--hub"_qs, hub, u"--code"_qs, u" \t "_qs} << 2
                                    << QString() << PairingTexts::emptyCode + u'\n' << QString();
        QTest::newRow("empty code option wins over the link")
            << QStringList{u"--link"_qs, u"korvan://p?code=x"_qs, u"--code"_qs, QString()} << 2
            << QString() << PairingTexts::emptyCode + u'\n' << QString();
    }
    void pair() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(QString, seenByInstaller);
        const qsizetype before = server_.requests().size();
        const Run run = korvanctl(args);
        QCOMPARE(run.out, out);
        QCOMPARE(run.err, err);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(seen(), seenByInstaller);
        // Nothing is fetched when the attempt is refused before the download.
        QCOMPARE(server_.requests().size() > before, !seenByInstaller.isEmpty());
        QCOMPARE(QDir(home_.filePath(QStringLiteral("tmp"))).entryList(QDir::Files), QStringList());
    }

    void usageErrors_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("unknown option") << QStringList{u"--bogus"_qs};
        QTest::newRow("missing value") << QStringList{u"--code"_qs};
        QTest::newRow("web link") << QStringList{u"--link"_qs, u"https://h.example/?code=x"_qs};
    }
    void usageErrors() {
        QFETCH(QStringList, args);
        const qsizetype before = server_.requests().size();
        const Run run = korvanctl(args);
        QCOMPARE(run.exitCode, 2);
        QVERIFY(!run.err.isEmpty());
        QCOMPARE(run.out, QString());
        QCOMPARE(server_.requests().size(), before);
    }
};

QTEST_GUILESS_MAIN(PairCommandTest)
#include "tst_paircommand.moc"
