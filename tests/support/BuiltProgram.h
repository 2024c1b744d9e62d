// BuiltProgram: one way to run a program this build made, as a user or a
// script would: arguments, environment, where its output goes, a deadline.
// The test's event loop keeps running meanwhile, so a loopback server in the
// same test still answers.
#pragma once

#include <QProcess>
#include <QTest>
#include <unistd.h>

struct BuiltProgram {
    struct Result {
        int exitCode = -1; // also when not started, killed by a signal or past the deadline
        QByteArray out, err;
    };
    QString path;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QString stdoutFile = {}, stderrFile = {}; // instead of the test ("/dev/full"); "-": closed
    int deadlineMs = 30000;

    Result run(const QStringList& arguments) const {
        QProcess p;
        p.setProcessEnvironment(environment);
        p.setStandardOutputFile(stdoutFile.size() > 1 ? stdoutFile : QString());
        p.setStandardErrorFile(stderrFile.size() > 1 ? stderrFile : QString());
        p.setChildProcessModifier(
            [this] { ::close(stdoutFile == u"-" ? 1 : -1), ::close(stderrFile == u"-" ? 2 : -1); });
        p.start(path, arguments);
        if (p.waitForStarted() &&
            !QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, deadlineMs))
            p.kill();
        p.waitForFinished();
        const bool ended =
            p.error() != QProcess::FailedToStart && p.exitStatus() == QProcess::NormalExit;
        return {ended ? p.exitCode() : -1,
                stdoutFile.isEmpty() ? p.readAllStandardOutput() : QByteArray(),
                stderrFile.isEmpty() ? p.readAllStandardError() : QByteArray()};
    }
};
