// A temporary service root with a control script written by the test, and
// KORVAN_APP_SUPPORT_DIR pointed at it for the test's lifetime.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

class TestServiceRoot {
public:
    TestServiceRoot() {
        QDir(dir_.path()).mkpath(QStringLiteral("scripts"));
        previous_ = qgetenv("KORVAN_APP_SUPPORT_DIR");
        hadPrevious_ = qEnvironmentVariableIsSet("KORVAN_APP_SUPPORT_DIR");
        qputenv("KORVAN_APP_SUPPORT_DIR", QFile::encodeName(dir_.path()));
    }
    ~TestServiceRoot() {
        if (hadPrevious_)
            qputenv("KORVAN_APP_SUPPORT_DIR", previous_);
        else
            qunsetenv("KORVAN_APP_SUPPORT_DIR");
    }
    TestServiceRoot(const TestServiceRoot&) = delete;
    TestServiceRoot& operator=(const TestServiceRoot&) = delete;

    QString path() const { return dir_.path(); }
    QString scriptPath() const {
        return path() + QStringLiteral("/scripts/korvan-service-control.sh");
    }

    // Writes the control script; `body` follows a bash shebang line.
    void writeScript(const QByteArray& body, bool executable = true) const {
        writeFile(scriptPath(), "#!/bin/bash\n" + body);
        QFile::setPermissions(scriptPath(),
                              executable ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                         : QFile::ReadOwner | QFile::WriteOwner);
    }

    void writeFile(const QString& file, const QByteArray& bytes) const {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(file));
        f.write(bytes);
    }

    QByteArray readFile(const QString& relative) const {
        QFile f(path() + u'/' + relative);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    QTemporaryDir dir_;
    QByteArray previous_;
    bool hadPrevious_ = false;
};
