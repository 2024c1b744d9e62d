// TestServiceRoot: a temporary service root, $KORVAN_APP_SUPPORT_DIR for the
// object's life (then restored), and the one writer of bash scripts. Paths are
// bytes, so that a root may be named with bytes that are not UTF-8.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <fstream>
#include <sys/stat.h>

class TestServiceRoot {
public:
    explicit TestServiceRoot(const QByteArray& name = "root")
        : path_(QFile::encodeName(dir_.path()) + '/' + name), previous_(qgetenv(kName)),
          hadPrevious_(qEnvironmentVariableIsSet(kName)) {
        if (::mkdir(path_.constData(), 0700) != 0 ||
            ::mkdir(QByteArray(path_ + "/scripts").constData(), 0700) != 0)
            qFatal("cannot create %s", path_.constData());
        qputenv(kName, path_);
    }
    ~TestServiceRoot() { hadPrevious_ ? qputenv(kName, previous_) : qunsetenv(kName); }

    const QByteArray& path() const { return path_; }
    QByteArray scriptPath() const { return path_ + "/scripts/korvan-service-control.sh"; }
    // The control script, or given `file` any script.
    void writeScript(const QByteArray& body, bool executable = true, QByteArray file = {}) const {
        file = file.isEmpty() ? scriptPath() : file;
        writeFile(file, "#!/bin/bash\n" + body);
        ::chmod(file.constData(), executable ? 0700 : 0600);
    }
    void writeFile(const QByteArray& file, const QByteArray& bytes) const {
        if (!(std::ofstream(file.constData(), std::ios::binary) << bytes.toStdString()))
            qFatal("cannot write %s", file.constData());
    }
    QByteArray readFile(const QByteArray& relative) const {
        std::ifstream in(QByteArray(path_ + '/' + relative).constData(), std::ios::binary);
        return QByteArray::fromStdString({std::istreambuf_iterator<char>(in), {}});
    }

private:
    static constexpr const char* kName = "KORVAN_APP_SUPPORT_DIR";
    QTemporaryDir dir_;
    QByteArray path_, previous_;
    bool hadPrevious_;
};
