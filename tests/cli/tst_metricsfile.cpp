// korvanctl status --openmetrics --output, spawned where only a real process
// shows it: a full disk and other users. Each row is a bash line in a scratch
// folder M; `k [SETUP [WRAPPER]]` runs korvanctl there, after SETUP and under
// WRAPPER, then prints what M/d/m.prom holds and what the folder lists.
#include "BuiltProgram.h"

#include <QTemporaryDir>
#include <unistd.h>

using namespace Qt::StringLiterals;

const QByteArray kPrelude = R"(K=$1; cd "$0"; mkdir d; echo old >kept; export LC_ALL=C.UTF-8
export KORVAN_APP_SUPPORT_DIR=$0/root
k() { (eval "$1"; exec $2 "$K" status --openmetrics --output "$0/d/m.prom"); s=$?
  cat d/m.prom; ls -A d; exit $s; }
)";

class MetricsFileTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void keepsWhatWasThere_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("err"); // the exit status is 74
        QTest::newRow("full disk: a file-size limit, SIGXFSZ ignored")
            << "cp kept d/m.prom; k \"trap '' XFSZ; ulimit -f 0\""_ba
            << "korvanctl: cannot write M/d/m.prom: File too large\n"_ba;
        // Root itself may rename over anything: two other users, and a file the runner may write.
        QTest::newRow("as root: another user's link in a sticky folder")
            << "chmod 755 .; chmod 1777 d; chown 65534 kept; ln -s $PWD/kept d/m.prom\n"
               "chown -h 65533 d/m.prom; k : 'setpriv --reuid=65534 --regid=65534 --clear-groups'"_ba
            << "korvanctl: cannot replace M/d/m.prom: Operation not permitted\n"_ba;
    }
    void keepsWhatWasThere() {
        QFETCH(QByteArray, line);
        if (line.contains("setpriv") && ::geteuid() != 0)
            QSKIP("needs root to act as two other users");
        QTemporaryDir scratch;
        BuiltProgram::Result r =
            BuiltProgram{u"/bin/bash"_s}.run({u"-c"_s, QString::fromUtf8(kPrelude + line),
                                              scratch.path(), QStringLiteral(KORVANCTL_PATH)});
        QCOMPARE(r.exitCode, 74);
        QTEST(r.err.replace(QFile::encodeName(scratch.path()), "M"), "err");
        QCOMPARE(r.out, "old\nm.prom\n"); // the old file as it was, and no temporary one beside it
    }
};

QTEST_GUILESS_MAIN(MetricsFileTest)
#include "tst_metricsfile.moc"
