#include "DesktopHarness.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <array>
#include <csignal>
#include <sys/prctl.h>

namespace e2e {

QStringList missingTools(const QStringList& tools) {
    QStringList missing;
    for (const QString& tool : tools) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            missing << tool;
    }
    return missing;
}

quint16 freePort() {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

std::unique_ptr<QProcess> startChild(const QString& program, const QStringList& arguments,
                                     const QProcessEnvironment& environment, QString* error) {
    auto process = std::make_unique<QProcess>();
    process->setProgram(program);
    process->setArguments(arguments);
    process->setProcessEnvironment(environment);
    // A test that crashes must not leave an X server or a bus behind.
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process->start();
    if (!process->waitForStarted(10000)) {
        if (error)
            *error = program + QStringLiteral(": ") + process->errorString();
        return nullptr;
    }
    return process;
}

void endChild(QProcess* child) {
    if (!child || child->state() == QProcess::NotRunning)
        return;
    child->terminate();
    if (!child->waitForFinished(5000)) {
        child->kill();
        child->waitForFinished(5000);
    }
}

std::optional<QByteArray> runTool(const QString& program, const QStringList& arguments,
                                  const QProcessEnvironment& environment, int timeoutMs) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

XServer::~XServer() {
    endChild(process_.get());
}

bool XServer::start(QString* error) {
    // -displayfd lets the server take the first free display number and tell
    // us which, so parallel runs never collide.
    process_ =
        startChild(QStringLiteral("Xvfb"),
                   {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                    QStringLiteral("0"), QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                    QStringLiteral("tcp")},
                   QProcessEnvironment::systemEnvironment(), error);
    if (!process_)
        return false;
    QProcess* server = process_.get();
    if (!QTest::qWaitFor(
            [server] { return server->canReadLine() || server->state() != QProcess::Running; },
            15000) ||
        !server->canReadLine()) {
        if (error)
            *error = QStringLiteral("Xvfb did not report a display: ") +
                     QString::fromLocal8Bit(server->readAllStandardError());
        return false;
    }
    display_ = u':' + QString::fromLatin1(server->readLine().trimmed());
    return true;
}

SessionBus::~SessionBus() {
    if (!process_)
        return;
    // End of input ends `cat`, and dbus-run-session then takes its daemon
    // down with it; a signal would leave the daemon running.
    process_->closeWriteChannel();
    if (!process_->waitForFinished(10000))
        endChild(process_.get());
}

bool SessionBus::start(QString* error) {
    // The session lasts as long as `cat` reads our end of the pipe: it ends
    // with this object, and with the test process if that dies.
    process_ = startChild(QStringLiteral("dbus-run-session"),
                          {QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"),
                           QStringLiteral("printf '%s\\n' \"$DBUS_SESSION_BUS_ADDRESS\"; exec cat "
                                          ">/dev/null")},
                          QProcessEnvironment::systemEnvironment(), error);
    if (!process_)
        return false;
    QProcess* session = process_.get();
    if (!QTest::qWaitFor(
            [session] { return session->canReadLine() || session->state() != QProcess::Running; },
            15000) ||
        !session->canReadLine()) {
        if (error)
            *error = QStringLiteral("dbus-run-session gave no address: ") +
                     QString::fromLocal8Bit(session->readAllStandardError());
        return false;
    }
    address_ = QString::fromUtf8(session->readLine().trimmed());
    return !address_.isEmpty();
}

UserSession::UserSession() {
    QDir base(dir_.path());
    for (const char* sub : {"home/.config", "home/.cache", "home/.local/share", "runtime"})
        base.mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(dir_.path() + QStringLiteral("/runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QProcessEnvironment UserSession::environment(const QString& display,
                                             const QString& busAddress) const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "KORVAN_APP_SUPPORT_DIR",
                             "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "SESSION_MANAGER"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    // No accessibility bus: it would outlive the session as a daemon of its own.
    env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
    env.insert(QStringLiteral("HOME"), home());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home() + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home() + QStringLiteral("/.cache"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home() + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path() + QStringLiteral("/runtime"));
    // Without a bus the toolkit falls back to the XEmbed tray; pointing at a
    // socket nobody serves keeps libdbus from launching one of its own.
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               busAddress.isEmpty()
                   ? QStringLiteral("unix:path=") + dir_.path() + QStringLiteral("/no-bus")
                   : busAddress);
    return env;
}

DemoRoot::DemoRoot(Content content) : bridgePort_(freePort()) {
    if (content == Content::empty)
        return;
    const QString from = sourceDir() + QStringLiteral("/examples/demo/root");
    const auto copied =
        runTool(QStringLiteral("cp"), {QStringLiteral("-R"), from + QStringLiteral("/."), path()},
                QProcessEnvironment::systemEnvironment());
    if (!copied)
        qFatal("cannot copy the demo root from %s", qPrintable(from));
}

DemoRoot::~DemoRoot() {
    if (QFile::exists(path() + QStringLiteral("/scripts/korvan-service-control.sh")))
        control(QStringLiteral("stop"));
    killServices();
}

void DemoRoot::writePairing() const {
    QFile env(path() + QStringLiteral("/.env"));
    if (!env.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write the pairing file");
    env.write("KORVAN_AGENT_HOST_ID=e2e-host\nKORVAN_AGENT_TOKEN=e2e-token\n");
}

void DemoRoot::setDesired(const QByteArray& desired) const {
    QDir(path()).mkpath(QStringLiteral("run"));
    QFile file(path() + QStringLiteral("/run/desired"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write the desired state");
    file.write(desired + '\n');
}

bool DemoRoot::isPaired() const {
    QFile env(path() + QStringLiteral("/.env"));
    if (!env.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = env.readAll();
    return text.contains("KORVAN_AGENT_HOST_ID=") && text.contains("KORVAN_AGENT_TOKEN=");
}

QList<qint64> DemoRoot::runningServices() const {
    QList<qint64> pids;
    for (const char* name : {"bridge", "agent"}) {
        QFile file(path() + QStringLiteral("/run/") + QString::fromLatin1(name) +
                   QStringLiteral(".pid"));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        bool ok = false;
        const qint64 pid = file.readAll().trimmed().toLongLong(&ok);
        // Alive and still one of ours: its command line names this root.
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (ok && pid > 0 && cmdline.open(QIODevice::ReadOnly) &&
            cmdline.readAll().contains(QFile::encodeName(path())))
            pids << pid;
    }
    return pids;
}

bool DemoRoot::bridgeAnswers() const {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, bridgePort_);
    return socket.waitForConnected(2000);
}

void DemoRoot::killServices() const {
    for (const qint64 pid : runningServices())
        ::kill(static_cast<pid_t>(pid), SIGKILL);
}

int DemoRoot::control(const QString& command) const {
    QProcess script;
    script.setProcessEnvironment(environment(QProcessEnvironment::systemEnvironment()));
    script.start(QStringLiteral("/bin/bash"),
                 {path() + QStringLiteral("/scripts/korvan-service-control.sh"), command});
    if (!script.waitForFinished(30000)) {
        script.kill();
        script.waitForFinished();
        return -1;
    }
    return script.exitStatus() == QProcess::NormalExit ? script.exitCode() : -1;
}

QProcessEnvironment DemoRoot::environment(QProcessEnvironment base) const {
    base.insert(QStringLiteral("KORVAN_APP_SUPPORT_DIR"), path());
    base.insert(QStringLiteral("KORVAN_DEMO_BRIDGE_PORT"), QString::number(bridgePort_));
    return base;
}

Controller::~Controller() {
    endChild(process_.get());
}

bool Controller::start(const QProcessEnvironment& environment, const QStringList& arguments,
                       QString* error) {
    process_ = startChild(controllerPath(), arguments, environment, error);
    if (!process_)
        return false;
    process_->setProcessChannelMode(QProcess::MergedChannels);
    return true;
}

qint64 Controller::pid() const {
    return process_ ? process_->processId() : 0;
}

bool Controller::isRunning() const {
    return process_ && process_->state() == QProcess::Running;
}

bool Controller::waitForExit(int timeoutMs) {
    QProcess* process = process_.get();
    return process &&
           QTest::qWaitFor([process] { return process->state() == QProcess::NotRunning; },
                           timeoutMs);
}

QString Controller::output() {
    if (process_) {
        output_ += process_->readAll();
    }
    return QString::fromLocal8Bit(output_);
}

QString controllerPath() {
    return QStringLiteral(KORVAN_E2E_CONTROLLER);
}

QString sourceDir() {
    const QString fromEnv = qEnvironmentVariable("KORVAN_TEST_SOURCE_DIR");
    return fromEnv.isEmpty() ? QStringLiteral(KORVAN_E2E_SOURCE_DIR) : fromEnv;
}

QString screenshotDir() {
    const QString dir = QStringLiteral(KORVAN_E2E_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    return dir;
}

QList<quint32> windowsOfProcess(qint64 pid, const QProcessEnvironment& environment) {
    QList<quint32> ids;
    // xdotool exits 1 when nothing matches; that is an empty list, not an error.
    QProcess search;
    search.setProcessEnvironment(environment);
    search.start(QStringLiteral("xdotool"),
                 {QStringLiteral("search"), QStringLiteral("--pid"), QString::number(pid)});
    if (!search.waitForFinished(10000))
        return ids;
    for (const QByteArray& line : search.readAllStandardOutput().split('\n')) {
        bool ok = false;
        const quint32 id = line.trimmed().toUInt(&ok);
        if (ok)
            ids << id;
    }
    return ids;
}

std::optional<WindowInfo> windowInfo(quint32 id, const QProcessEnvironment& environment) {
    const auto text = runTool(QStringLiteral("xwininfo"),
                              {QStringLiteral("-tree"), QStringLiteral("-stats"),
                               QStringLiteral("-id"), QString::number(id)},
                              environment);
    if (!text)
        return std::nullopt;
    const QString out = QString::fromUtf8(*text);
    const auto number = [&out](const QString& label) {
        const auto match =
            QRegularExpression(QRegularExpression::escape(label) + QStringLiteral(":\\s*(-?\\d+)"))
                .match(out);
        return match.hasMatch() ? match.captured(1).toInt() : 0;
    };
    const auto windowId = [&out](const QString& label) {
        const auto match = QRegularExpression(QRegularExpression::escape(label) +
                                              QStringLiteral(":\\s*0x([0-9a-f]+)"))
                               .match(out);
        return match.hasMatch() ? match.captured(1).toUInt(nullptr, 16) : 0u;
    };
    WindowInfo info;
    info.id = id;
    info.root = windowId(QStringLiteral("Root window id"));
    info.parent = windowId(QStringLiteral("Parent window id"));
    info.geometry = QRect(number(QStringLiteral("Absolute upper-left X")),
                          number(QStringLiteral("Absolute upper-left Y")),
                          number(QStringLiteral("Width")), number(QStringLiteral("Height")));
    info.viewable = out.contains(QStringLiteral("Map State: IsViewable"));
    info.overrideRedirect = out.contains(QStringLiteral("Override Redirect State: yes"));
    return info;
}

QImage grabScreen(const QProcessEnvironment& environment) {
    const auto png =
        runTool(QStringLiteral("import"),
                {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("png:-")},
                environment, 20000);
    return png ? QImage::fromData(*png, "PNG") : QImage();
}

int inkPixels(const QImage& image) {
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y)];
    }
    QRgb background = 0;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            background = it.key();
        }
    }
    int ink = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (std::abs(qGray(it.key()) - qGray(background)) > 80)
            ink += it.value();
    }
    return ink;
}

const char* tintName(Tint tint) {
    switch (tint) {
    case Tint::grey:
        return "grey";
    case Tint::yellow:
        return "yellow";
    case Tint::green:
        return "green";
    case Tint::red:
        return "red";
    case Tint::none:
        break;
    }
    return "none";
}

Tint dominantTint(const QImage& image, const QRect& area) {
    struct Reference {
        Tint tint;
        int r, g, b;
    };
    // The system colours a user recognises: secondary grey, yellow, green, red.
    static constexpr std::array<Reference, 4> references{{{Tint::grey, 142, 142, 147},
                                                          {Tint::yellow, 255, 204, 0},
                                                          {Tint::green, 52, 199, 89},
                                                          {Tint::red, 255, 59, 48}}};
    std::array<int, 4> votes{};
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    const QRect rect = area.isNull() ? argb.rect() : area.intersected(argb.rect());
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QRgb pixel = argb.pixel(x, y);
            if (qAlpha(pixel) < 200)
                continue;
            for (std::size_t i = 0; i < references.size(); ++i) {
                const int dr = qRed(pixel) - references[i].r;
                const int dg = qGreen(pixel) - references[i].g;
                const int db = qBlue(pixel) - references[i].b;
                // Close enough to be that colour, not an edge blended into the
                // background.
                if (dr * dr + dg * dg + db * db < 30 * 30)
                    ++votes[i];
            }
        }
    }
    std::size_t best = 0;
    for (std::size_t i = 1; i < votes.size(); ++i) {
        if (votes[i] > votes[best])
            best = i;
    }
    return votes[best] >= 8 ? references[best].tint : Tint::none;
}

} // namespace e2e
