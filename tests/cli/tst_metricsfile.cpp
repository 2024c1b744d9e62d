// korvanctl status --openmetrics --output, spawned where only a real process
// shows it: under a file-size limit (a full disk), and run as one user in a
// sticky folder where another planted a link under the file's name.
#include "BuiltProgram.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr uid_t kPlanter = 65533, kRunner = 65534; // two users that are not the test's
const QByteArray kKept = "# a complete older file\n# EOF\n";

} // namespace

class MetricsFileTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void keepsWhatItMustNotReplace_data() {
        QTest::addColumn<int>("limit");       // RLIMIT_FSIZE in bytes, SIGXFSZ ignored; 0: none
        QTest::addColumn<bool>("otherUsers"); // sticky folder, link by kPlanter, run as kRunner
        QTest::addColumn<bool>("link");       // the name links to the kept file outside
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("err"); // PATH: the file's path
        QTest::addColumn<QString>("folder"); // what the folder holds afterwards
        QTest::newRow("full disk")
            << 64 << false << false << 74 << "korvanctl: cannot write PATH: File too large\n"_ba
            << u"m.prom file"_s;
        QTest::newRow("link under the name, replaced")
            << 0 << false << true << 0 << QByteArray() << u"m.prom file"_s;
        QTest::newRow("another user's link in a sticky folder")
            << 0 << true << true << 74
            << "korvanctl: cannot replace PATH: Operation not permitted\n"_ba << u"m.prom link"_s;
    }
    void keepsWhatItMustNotReplace() {
        QFETCH(int, limit);
        QFETCH(bool, otherUsers);
        QFETCH(bool, link);
        if (otherUsers && ::geteuid() != 0)
            QSKIP("acting as two other users needs root");
        QTemporaryDir scratch;
        const QString folder = scratch.filePath(u"shared"_s), name = folder + u"/m.prom"_s;
        const QString kept = link ? scratch.filePath(u"kept"_s) : name;
        QVERIFY(QDir().mkdir(folder));
        QFile file(kept);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(kKept) == kKept.size());
        file.close();
        if (link)
            QVERIFY(QFile::link(kept, name));
        if (otherUsers) {
            const auto own = [](const QString& path, uid_t uid, bool followLink) {
                const QByteArray native = QFile::encodeName(path);
                return (followLink ? ::chown : ::lchown)(native.constData(), uid, uid) == 0;
            };
            QVERIFY(::chmod(QFile::encodeName(scratch.path()).constData(), 0755) == 0);
            QVERIFY(::chmod(QFile::encodeName(folder).constData(), 01777) == 0);
            QVERIFY(own(kept, kRunner, true)); // a file the runner may write
            QVERIFY(own(name, kPlanter, false));
        }

        BuiltProgram korvanctl{QStringLiteral(KORVANCTL_PATH)};
        korvanctl.environment.insert(u"KORVAN_APP_SUPPORT_DIR"_s, scratch.filePath(u"root"_s));
        korvanctl.inChild = [limit, otherUsers] {
            if (limit > 0) {
                const rlimit size{rlim_t(limit), rlim_t(limit)};
                ::signal(SIGXFSZ, SIG_IGN);
                if (::setrlimit(RLIMIT_FSIZE, &size) != 0)
                    ::_exit(125);
            }
            if (otherUsers &&
                (::setgroups(0, nullptr) != 0 || ::setresgid(kRunner, kRunner, kRunner) != 0 ||
                 ::setresuid(kRunner, kRunner, kRunner) != 0))
                ::_exit(125);
        };
        const BuiltProgram::Result r =
            korvanctl.run({u"status"_s, u"--openmetrics"_s, u"--output"_s, name});
        QTEST(r.exitCode, "exitCode");
        QFETCH(QByteArray, err);
        QCOMPARE(r.err, err.replace("PATH", QFile::encodeName(name)));
        QFile after(kept);
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), kKept);
        QStringList entries;
        for (const QFileInfo& entry : QDir(folder).entryInfoList(
                 QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
            entries << entry.fileName() << (entry.isSymLink() ? u"link"_s : u"file"_s);
        QTEST(entries.join(u' '), "folder");
    }
};

QTEST_GUILESS_MAIN(MetricsFileTest)
#include "tst_metricsfile.moc"
