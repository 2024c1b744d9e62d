// ScriptRoot: the controller tests' service root, a TestServiceRoot whose
// control script records and obeys the test. Only the controller tests that
// still run real scripts use it.
//
// The script appends every command word to runs.log, prints `report` for
// "status", and for each word obeys the files hold-<word> (wait while it
// exists), stdout-<word>, stderr-<word> and exit-<word>. The extra word
// "probe" logs nothing and returns once no "status" run is in flight, which
// lets a test prove that nothing it did started a run.
#pragma once

#include "service/ServiceManager.h"
#include "support/TestServiceRoot.h"

#include <QStringList>
#include <QTest>

class ScriptRoot : public TestServiceRoot {
public:
    explicit ScriptRoot(bool withScript = true) {
        if (withScript)
            writeScript(R"SH(root="$(cd "$(dirname "$0")/.." && pwd)"
cmd="$1"
if [ "$cmd" = probe ]; then
    while compgen -G "$root/running/status.*" >/dev/null; do sleep 0.01; done
    exit 0
fi
if [ "$cmd" = status ]; then
    mkdir -p "$root/running"
    marker="$root/running/status.$$"
    : > "$marker"
    trap 'rm -f "$marker"' EXIT
fi
echo "$cmd" >> "$root/runs.log"
while [ -e "$root/hold-$cmd" ]; do sleep 0.01; done
if [ "$cmd" = status ] && [ -f "$root/report" ]; then cat "$root/report"; fi
if [ -f "$root/stdout-$cmd" ]; then cat "$root/stdout-$cmd"; fi
if [ -f "$root/stderr-$cmd" ]; then cat "$root/stderr-$cmd" >&2; fi
exit "$(cat "$root/exit-$cmd" 2>/dev/null || echo 0)"
)SH");
    }
    ~ScriptRoot() {
        // Let held scripts finish before their folder goes.
        for (const QString& hold : QDir(path()).entryList({QStringLiteral("hold-*")}))
            QFile::remove(path(hold));
    }

    QString path(const QString& name) const { return path() + u'/' + name; }
    using TestServiceRoot::path;
    void write(const QString& name, const QByteArray& contents) const {
        writeFile(path(name), contents);
    }

    void pair() const {
        write(QStringLiteral(".env"),
              QByteArrayLiteral("KORVAN_AGENT_HOST_ID=host-1\nKORVAN_AGENT_TOKEN=token-1\n"));
    }
    void setReport(const QByteArray& report) const { write(QStringLiteral("report"), report); }
    void hold(const QString& command) const { write(QStringLiteral("hold-") + command, {}); }
    void release(const QString& command) const {
        QFile::remove(path(QStringLiteral("hold-") + command));
    }
    void fail(const QString& command, int status, const QByteArray& standardError,
              const QByteArray& standardOutput = {}) const {
        write(QStringLiteral("exit-") + command, QByteArray::number(status));
        write(QStringLiteral("stderr-") + command, standardError);
        write(QStringLiteral("stdout-") + command, standardOutput);
    }

    // The command words run so far, in order.
    QStringList runs() const {
        return QString::fromUtf8(readFile(QStringLiteral("runs.log")))
            .split(u'\n', Qt::SkipEmptyParts);
    }

    // Processes the events already posted and waits for every "status" run
    // already started; false when that takes longer than the deadline.
    bool settle() const {
        ServiceManager probe;
        bool done = false;
        probe.run(QStringLiteral("probe"), [&done](const CommandResult&) { done = true; });
        return QTest::qWaitFor([&done] { return done; }, 10000);
    }
};
