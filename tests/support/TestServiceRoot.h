// TestServiceRoot: a temporary service root, $KORVAN_APP_SUPPORT_DIR for the
// object's life (then restored), and the one writer of bash scripts.
#pragma once

#include <QAnyStringView>
#include <QDir>
#include <QTemporaryDir>

class TestServiceRoot {
public:
    TestServiceRoot() : previous_(qgetenv(kName)), hadPrevious_(qEnvironmentVariableIsSet(kName)) {
        QDir(dir_.path()).mkpath(QStringLiteral("scripts"));
        qputenv(kName, QFile::encodeName(dir_.path()));
    }
    ~TestServiceRoot() { hadPrevious_ ? qputenv(kName, previous_) : qunsetenv(kName); }

    QString path() const { return dir_.path(); }
    QString scriptPath() const { return path() + u"/scripts/korvan-service-control.sh"; }
    // The control script, or given `file` any script.
    void writeScript(const QByteArray& body, bool executable = true, QString file = {}) const {
        file = file.isEmpty() ? scriptPath() : file;
        writeFile(file, "#!/bin/bash\n" + body);
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner |
                                        (executable ? QFile::ExeOwner : QFile::Permissions()));
    }
    void writeFile(const QString& file, const QByteArray& bytes) const {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(file));
    }
    QByteArray readFile(QAnyStringView relative) const {
        QFile f(path() + u'/' + relative.toString());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    static constexpr const char* kName = "KORVAN_APP_SUPPORT_DIR";
    QTemporaryDir dir_;
    QByteArray previous_;
    bool hadPrevious_;
};
