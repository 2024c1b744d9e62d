// BuiltProgram: one way to run a program this build made (or a shell that execs it) as
// a user would: arguments, environment, a deadline, both streams, the exit status.
// The test's event loop runs meanwhile, so a loopback server in the test answers.
#pragma once

#include <QProcess>
#include <QTest>

struct BuiltProgram {
    struct Result {
        int exitCode = -1; // also when not started, killed by a signal or past the deadline
        QByteArray out, err;
    };
    QString path;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    int deadlineMs = 30000;

    Result run(const QStringList& arguments) const {
        QProcess p;
        p.setProcessEnvironment(environment);
        p.start(path, arguments);
        if (p.waitForStarted() &&
            !QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, deadlineMs))
            p.kill();
        p.waitForFinished();
        const int status = p.error() == QProcess::UnknownError ? p.exitCode() : -1;
        return {status, p.readAllStandardOutput(), p.readAllStandardError()};
    }
};
