// TestServiceRoot: a temporary service root, $KORVAN_APP_SUPPORT_DIR for the
// object's life (then restored), and the one writer of bash scripts. Paths are
// bytes, so that a root may be named with bytes that are not UTF-8.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
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
        std::FILE* f = std::fopen(file.constData(), "wb");
        if (!f ||
            std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f) != size_t(bytes.size()) ||
            std::fclose(f) != 0)
            qFatal("cannot write %s", file.constData());
    }
    QByteArray readFile(const QByteArray& relative) const {
        QByteArray bytes;
        if (std::FILE* f = std::fopen(QByteArray(path_ + '/' + relative).constData(), "rb")) {
            char buffer[4096];
            while (const size_t n = std::fread(buffer, 1, sizeof buffer, f))
                bytes.append(buffer, qsizetype(n));
            std::fclose(f);
        }
        return bytes;
    }

private:
    static constexpr const char* kName = "KORVAN_APP_SUPPORT_DIR";
    QTemporaryDir dir_;
    QByteArray path_, previous_;
    bool hadPrevious_;
};
