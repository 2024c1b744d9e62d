// korvanctl as a real process, only for what a process alone shows: signals
// and the process group, live output, the exit status on a closed pipe. Each
// row is a bash line on a private machine; `k` runs korvanctl.
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

class KorvanctlProcessTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void process_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("signals end jobs that ignore SIGINT too")
            << QByteArray("script '/bin/sleep 600 & echo $! >\"$0.bg\"; wait'\n"
                          "for s in INT TERM HUP; do rm -f $S.bg; k start & until [ -s $S.bg ]; "
                          "do sleep 0.01; done\n"
                          "kill -$s $!; wait $! || echo $?; bg=/proc/$(cat $S.bg)/stat\n"
                          "while grep -qsv ') Z' $bg; do sleep 0.01; done; done")
            << QByteArray("130\n143\n129\n");
        // Seen before the script goes on, or it was held back.
        QTest::newRow("output as it happens")
            << QByteArray("script 'echo first; until [ -e \"$0.go\" ]; do sleep 0.01; done; echo "
                          "second'; k start >o & for i in $(seq 1000); do grep -qs first o && "
                          "break; sleep 0.01; done; cat o; touch $S.go; wait $! && cat o")
            << QByteArray("first\nfirst\nsecond\n");
        // The restart is not cut between its stop and its start.
        QTest::newRow("closed pipe")
            << QByteArray("script 'seq 100000; echo done >\"$0.end\"'; k restart 2>e | head -1; "
                          "echo ${PIPESTATUS[0]}; cat $S.end e")
            << QByteArray("1\n74\ndone\nkorvanctl: cannot write to standard output: Broken "
                          "pipe\n");
        // A full disk and another user's link keep the old metrics file, and no temporary one.
        QTest::newRow("full disk: a file-size limit, SIGXFSZ ignored")
            << QByteArray("mkdir d; echo old >d/m.prom; (trap '' XFSZ; ulimit -f 0; k status "
                          "--openmetrics --output $M/d/m.prom 2>&1) | sed \"s|$M|M|\"; echo "
                          "${PIPESTATUS[0]}; cat d/m.prom; ls -A d")
            << QByteArray("korvanctl: cannot write M/d/m.prom: File too large\n74\nold\nm.prom\n");
        // Root itself may rename over anything: two other users.
        QTest::newRow("as root: another user's link in a sticky folder")
            << QByteArray("mkdir d; echo old >kept; chmod 755 .; chmod 1777 d; chown 65534 kept\n"
                          "ln -s $PWD/kept d/m.prom; chown -h 65533 d/m.prom; (exec setpriv "
                          "--reuid=65534 --regid=65534 --clear-groups \"$KORVANCTL\" status "
                          "--openmetrics --output $M/d/m.prom) 2>e || echo $?\n"
                          "sed \"s|$M|M|\" e; cat d/m.prom; ls -A d")
            << QByteArray("74\nkorvanctl: cannot replace M/d/m.prom: Operation not permitted\n"
                          "old\nm.prom\n");
    }
    void process() {
        QTemporaryDir dir;
        QFETCH(QByteArray, line);
        if (line.contains("setpriv") && ::geteuid() != 0)
            QSKIP("needs root to act as two other users");
        const QByteArray machine =
            R"(export M=$0 KORVANCTL=$1; set -e; cd "$M"; mkdir -p root/scripts
export KORVAN_APP_SUPPORT_DIR=$M/root S=$M/root/scripts/korvan-service-control.sh LC_ALL=C.UTF-8
script() { printf '#!/bin/bash\n%s\n' "$1" >$S; chmod +x $S; }
k() { exec "$KORVANCTL" "$@"; }
)";
        QProcess bash;
        bash.start(u"/bin/bash"_qs, {u"-c"_qs, QString::fromUtf8(machine + line), dir.path(),
                                     QStringLiteral(KORVANCTL_PATH)});
        QVERIFY(QTest::qWaitFor([&] { return bash.state() == QProcess::NotRunning; }, 30000));
        QTEST(bash.readAllStandardOutput(), "out");
        QCOMPARE(bash.readAllStandardError(), QByteArray());
        QCOMPARE(bash.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(KorvanctlProcessTest)
#include "tst_korvanctl_process.moc"
