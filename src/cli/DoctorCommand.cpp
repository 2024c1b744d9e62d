// korvanctl doctor: one line per thing a running controller depends on, each
// with a verdict word first so that scripts can grep for it. Values from the
// pairing file are never printed, only which keys are there.
#include "Commands.h"

#include "core/TextRules.h"
#include "platform/XdgAutostartLoginItem.h"
#include "service/ProcessRunner.h"
#include "service/ServiceManager.h"
#include "service/ServiceRoot.h"

#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QStandardPaths>
#include <sys/stat.h>

namespace cli {

namespace {

enum class Verdict { ok, warn, missing, fail, off, unknown };

QString verdictWord(Verdict verdict) {
    switch (verdict) {
    case Verdict::ok:
        return QStringLiteral("ok");
    case Verdict::warn:
        return QStringLiteral("warn");
    case Verdict::missing:
        return QStringLiteral("missing");
    case Verdict::fail:
        return QStringLiteral("fail");
    case Verdict::off:
        return QStringLiteral("off");
    case Verdict::unknown:
        return QStringLiteral("unknown");
    }
    return QString();
}

struct Check {
    Verdict verdict;
    QString text;
};

QString lineFor(const Check& check) {
    return verdictWord(check.verdict).leftJustified(8) + check.text + u'\n';
}

// A desktop helper that hangs (a bus that does not answer) must not hang
// the doctor, so every helper run has a time limit.
constexpr std::chrono::seconds kToolTimeLimit{10};

// Runs a program found on PATH to completion through the manager's runner;
// std::nullopt when PATH has no such program.
std::optional<ProcessOutcome> runTool(ProcessRunner& runner, const QString& name,
                                      const QStringList& arguments) {
    const QString program = QStandardPaths::findExecutable(name);
    if (program.isEmpty())
        return std::nullopt;
    ProcessJob job;
    job.program = QFile::encodeName(program).toStdString();
    for (const QString& argument : arguments)
        job.arguments.push_back(argument.toStdString());
    job.environment = currentEnvironment();
    job.timeLimit = kToolTimeLimit;

    return runner.runToEnd(std::move(job));
}

QString firstLine(const QByteArray& bytes) {
    const QString text = text::decodeUtf8OrEmpty(bytes).trimmed();
    return text.section(u'\n', 0, 0).trimmed();
}

QString whyItFailed(const QString& tool, const ProcessOutcome& outcome) {
    switch (outcome.kind) {
    case ProcessOutcome::Kind::timedOut:
    case ProcessOutcome::Kind::outputLimited:
        return tool + QStringLiteral(" did not answer");
    case ProcessOutcome::Kind::launchFailed:
        return tool + QStringLiteral(" could not be started: ") +
               systemErrorText(outcome.launchError);
    case ProcessOutcome::Kind::signalled:
        return tool + QStringLiteral(" was killed by signal ") + QString::number(outcome.status);
    case ProcessOutcome::Kind::exited:
        break;
    }
    const QString said = firstLine(outcome.standardError);
    return tool + QStringLiteral(" failed") + (said.isEmpty() ? QString() : u": " + said);
}

Check serviceRoot(const ServiceRoot& root) {
    const QLatin1StringView variable(ServiceRoot::variable);
    const QString source =
        root.isFromEnvironment()
            ? QString(QStringLiteral("from ") + variable)
            : QString(QStringLiteral("the default; ") + variable + QStringLiteral(" is not set"));
    const QString text = QStringLiteral("service root: ") + ServiceRoot::display(root.path()) +
                         QStringLiteral(" (") + source + u')';
    // Asked with the root's own bytes: its name is decoded for the line only.
    struct stat st {};
    if (::stat(root.path().constData(), &st) != 0)
        return {Verdict::missing, text + QStringLiteral(", does not exist")};
    if (!S_ISDIR(st.st_mode))
        return {Verdict::fail, text + QStringLiteral(", is not a folder")};
    return {Verdict::ok, text};
}

Check controlScript(const ServiceRoot& root) {
    const QString text =
        QStringLiteral("control script: ") + ServiceRoot::display(root.controlScriptPath());
    switch (root.checkControlScript()) {
    case ServiceRoot::Script::missing:
        return {Verdict::missing, text + QStringLiteral(" not found")};
    case ServiceRoot::Script::notRegularFile:
        return {Verdict::fail, text + QStringLiteral(" is not a regular file")};
    case ServiceRoot::Script::notExecutable:
        return {Verdict::fail, text + QStringLiteral(" is not executable")};
    case ServiceRoot::Script::executable:
        break;
    }
    return {Verdict::ok, text + QStringLiteral(" is executable")};
}

Check pairingFile(const ServiceRoot& root) {
    const QString text =
        QStringLiteral("pairing file: ") + ServiceRoot::display(root.pairingFilePath());
    // The tray's own reading, so that a FIFO or a link to a device cannot
    // hang or exhaust doctor either; it names what it found instead.
    const PairingFile::Reading reading = root.readPairingFile();
    if (reading.kind == PairingFile::Reading::Kind::missing)
        return {Verdict::missing, text + QStringLiteral(" not found; the machine is not paired")};
    if (reading.kind != PairingFile::Reading::Kind::text)
        return {Verdict::fail, text + u' ' + PairingFile::problem(reading.kind)};
    if (reading.isPaired())
        return {Verdict::ok, text + QStringLiteral(" names KORVAN_AGENT_HOST_ID and "
                                                   "KORVAN_AGENT_TOKEN")};
    QStringList lacking;
    if (!reading.keys.hostId)
        lacking << QString::fromUtf16(PairingFile::hostIdKey);
    if (!reading.keys.token)
        lacking << QString::fromUtf16(PairingFile::tokenKey);
    QString line = text + QStringLiteral(" lacks ") + lacking.join(QStringLiteral(" and "));
    // An editor that saved CR LF line ends turns the file into one line,
    // which reads as unpaired however right it looks on screen.
    if (reading.crLfLineEnds)
        line += QStringLiteral(" (its lines end in CR LF; only a line feed ends a line)");
    return {Verdict::missing, line};
}

// One way of reaching a tray host: present, absent, or not known.
struct Probe {
    enum class Answer { yes, no, unknown } answer;
    QString detail;
};

Probe statusNotifierWatcher(ProcessRunner& runner) {
    // Without an address and without the standard socket, dbus-send would
    // try to autolaunch a bus of its own; there is simply none to ask.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        (runtime.isEmpty() || !QFileInfo::exists(runtime + QStringLiteral("/bus"))))
        return {Probe::Answer::no, QStringLiteral("no session bus")};
    const auto outcome = runTool(runner, QStringLiteral("dbus-send"),
                                 {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                                  QStringLiteral("--dest=org.freedesktop.DBus"),
                                  QStringLiteral("/org/freedesktop/DBus"),
                                  QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                                  QStringLiteral("string:org.kde.StatusNotifierWatcher")});
    if (!outcome)
        return {Probe::Answer::unknown, QStringLiteral("dbus-send not found")};
    if (outcome->kind != ProcessOutcome::Kind::exited || outcome->status != 0)
        return {Probe::Answer::unknown, whyItFailed(QStringLiteral("dbus-send"), *outcome)};
    const QString reply = text::decodeUtf8OrEmpty(outcome->standardOutput);
    if (reply.contains(QStringLiteral("boolean true")))
        return {Probe::Answer::yes,
                QStringLiteral("a StatusNotifierWatcher is on the session bus")};
    if (reply.contains(QStringLiteral("boolean false")))
        return {Probe::Answer::no, QStringLiteral("no StatusNotifierWatcher on the session bus")};
    return {Probe::Answer::unknown, QStringLiteral("dbus-send gave no answer")};
}

// Asks the X server which window owns the system tray selection. No
// command-line tool in the distribution reports a selection's owner, so the
// client library is loaded at run time: korvanctl keeps no link-time tie to
// X and still works where it is not installed.
Probe xembedTray() {
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty())
        return {Probe::Answer::no, QStringLiteral("no X display")};
    const QString name = QString::fromLocal8Bit(display);
    QLibrary x11(QStringLiteral("X11"), 6);
    using OpenDisplay = void* (*)(const char*);
    using DefaultScreen = int (*)(void*);
    using InternAtom = unsigned long (*)(void*, const char*, int);
    using GetSelectionOwner = unsigned long (*)(void*, unsigned long);
    using CloseDisplay = int (*)(void*);
    const auto openDisplay = reinterpret_cast<OpenDisplay>(x11.resolve("XOpenDisplay"));
    const auto defaultScreen = reinterpret_cast<DefaultScreen>(x11.resolve("XDefaultScreen"));
    const auto internAtom = reinterpret_cast<InternAtom>(x11.resolve("XInternAtom"));
    const auto selectionOwner =
        reinterpret_cast<GetSelectionOwner>(x11.resolve("XGetSelectionOwner"));
    const auto closeDisplay = reinterpret_cast<CloseDisplay>(x11.resolve("XCloseDisplay"));
    if (!openDisplay || !defaultScreen || !internAtom || !selectionOwner || !closeDisplay)
        return {Probe::Answer::unknown, QStringLiteral("libX11 is not available to ask ") + name};
    void* connection = openDisplay(display.constData());
    if (!connection)
        return {Probe::Answer::unknown, QStringLiteral("cannot open X display ") + name};
    const QByteArray selection =
        "_NET_SYSTEM_TRAY_S" + QByteArray::number(defaultScreen(connection));
    // An atom nobody has made yet has no owner either.
    const unsigned long atom = internAtom(connection, selection.constData(), 1);
    const bool owned = atom != 0 && selectionOwner(connection, atom) != 0;
    closeDisplay(connection);
    const QString what = QString::fromLatin1(selection) + QStringLiteral(" on ") + name;
    return owned ? Probe{Probe::Answer::yes, QStringLiteral("an XEmbed tray owns ") + what}
                 : Probe{Probe::Answer::no, QStringLiteral("no XEmbed tray owns ") + what};
}

Check trayHost(ProcessRunner& runner) {
    const Probe sni = statusNotifierWatcher(runner);
    if (sni.answer == Probe::Answer::yes)
        return {Verdict::ok, QStringLiteral("tray host: ") + sni.detail};
    const Probe xembed = xembedTray();
    if (xembed.answer == Probe::Answer::yes)
        return {Verdict::ok, QStringLiteral("tray host: ") + xembed.detail};
    const bool neither = sni.answer == Probe::Answer::no && xembed.answer == Probe::Answer::no;
    return {neither ? Verdict::missing : Verdict::unknown,
            QStringLiteral("tray host: ") + sni.detail + QStringLiteral("; ") + xembed.detail};
}

Check loginItem() {
    // Only the entry is read, so the program path is not needed here.
    const XdgAutostartLoginItem item{QString(), QString()};
    const QString path = XdgAutostartLoginItem::activeEntryPath();
    switch (item.status()) {
    case LoginItemStatus::enabled:
        return {Verdict::ok, QStringLiteral("start at login: on (") + path + u')'};
    case LoginItemStatus::notRegistered:
        return {Verdict::off,
                QStringLiteral("start at login: off (no enabled entry at ") + path + u')'};
    case LoginItemStatus::notFound:
        return {Verdict::warn, QStringLiteral("start at login: ") + path +
                                   QStringLiteral(" names a program that is gone; switch it off "
                                                  "and on again in the menu")};
    case LoginItemStatus::requiresApproval:
        break;
    }
    return {Verdict::unknown, QStringLiteral("start at login: ") + path};
}

Check linkHandler(ProcessRunner& runner) {
    const QString desktopFile = QStringLiteral("korvan-controller.desktop");
    const QString fix = QStringLiteral(" (xdg-mime default korvan-controller.desktop "
                                       "x-scheme-handler/korvan)");
    const auto outcome = runTool(runner, QStringLiteral("xdg-mime"),
                                 {QStringLiteral("query"), QStringLiteral("default"),
                                  QStringLiteral("x-scheme-handler/korvan")});
    if (!outcome)
        return {Verdict::unknown, QStringLiteral("korvan:// links: xdg-mime not found")};
    if (outcome->kind != ProcessOutcome::Kind::exited || outcome->status != 0)
        return {Verdict::unknown, QStringLiteral("korvan:// links: ") +
                                      whyItFailed(QStringLiteral("xdg-mime"), *outcome)};
    const QString handler = firstLine(outcome->standardOutput);
    if (handler == desktopFile)
        return {Verdict::ok, QStringLiteral("korvan:// links: opened by ") + handler};
    if (handler.isEmpty())
        return {Verdict::missing, QStringLiteral("korvan:// links: no handler") + fix};
    return {Verdict::warn, QStringLiteral("korvan:// links: opened by ") + handler + fix};
}

} // namespace

int doctorCommand(Invocation& call) {
    const ServiceRoot root = call.manager.serviceRoot();
    ProcessRunner& runner = call.manager.runner();
    const Check place = serviceRoot(root);
    const Check script = controlScript(root);
    const Check pairing = pairingFile(root);
    const Check tray = trayHost(runner);
    for (const Check& check : {place, script, pairing, tray, loginItem(), linkHandler(runner)})
        call.streams.out(lineFor(check));
    // Start-at-login and link routing are conveniences; the controller runs
    // without them.
    const bool ready = script.verdict == Verdict::ok && pairing.verdict == Verdict::ok &&
                       tray.verdict == Verdict::ok;
    return ready ? 0 : 1;
}

} // namespace cli
