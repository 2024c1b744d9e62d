// korvanctl as a real process, only for what a process alone shows: signals
// and the process group, live output, the exit status on a closed pipe. Each
// row is a bash line on a private machine; `k` runs korvanctl.
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class KorvanctlProcessTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void process_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("signals end jobs that ignore SIGINT too")
            << QByteArray("script '/bin/sleep 600 & echo $! >\"$0.bg\"; wait'; for s in INT TERM; "
                          "do rm -f $S.bg; k start & until [ -s $S.bg ]; do sleep 0.01; done\n"
                          "kill -$s $!; wait $! || echo $?; bg=/proc/$(cat $S.bg)/stat\n"
                          "while grep -qsv ') Z' $bg; do sleep 0.01; done; done")
            << QByteArray("130\n143\n");
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
    }
    void process() {
        QTemporaryDir dir;
        QFETCH(QByteArray, line);
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
