// korvanctl doctor: one line per thing a running controller depends on, each
// with a verdict word first so that scripts can grep for it, and under each
// line that needs one, an indented line with the fix. Values from the pairing
// file are never printed, only which keys are there.
#include "AwaitCompletion.h"
#include "Commands.h"

#include "core/SystemError.h"
#include "core/TextRules.h"
#include "platform/XdgAutostartLoginItem.h"
#include "service/ProcessRunner.h"
#include "service/ServiceControl.h"
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
    QString fix = {}; // for warn, fail and missing: what to do about it
};

QString lineFor(const Check& check) {
    QString line = verdictWord(check.verdict).leftJustified(8) + check.text + u'\n';
    if (!check.fix.isEmpty() && check.verdict != Verdict::ok && check.verdict != Verdict::off &&
        check.verdict != Verdict::unknown)
        line += QString(8, u' ') + check.fix + u'\n';
    return line;
}

const QString kPairFix = QStringLiteral("korvanctl pair --hub URL --code -");

// A helper that hangs (a bus or a display that does not answer) must not hang
// the doctor, so every helper runs as a child with a time limit, followed by
// the event loop, where a signal still ends korvanctl.
ProcessOutcome runProgram(const Invocation& call, const QString& program,
                          const QStringList& arguments) {
    ProcessJob job;
    job.program = QFile::encodeName(program).toStdString();
    for (const QString& argument : arguments)
        job.arguments.push_back(argument.toStdString());
    job.environment = currentEnvironment();
    job.timeLimit = call.toolTimeLimit;
    return awaitCompletion<ProcessOutcome>(
        [&](auto done) { call.runner.start(std::move(job), std::move(done)); });
}

// A program found on PATH; std::nullopt when PATH has no such program.
std::optional<ProcessOutcome> runTool(const Invocation& call, const QString& name,
                                      const QStringList& arguments) {
    const QString program = QStandardPaths::findExecutable(name);
    if (program.isEmpty())
        return std::nullopt;
    return runProgram(call, program, arguments);
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
        root.isFromEnvironment() ? QString(QStringLiteral("from ") + variable)
        : qEnvironmentVariableIsSet(ServiceRoot::variable)
            ? QString(QStringLiteral("the default; ") + variable + QStringLiteral(" is empty"))
            : QString(QStringLiteral("the default; ") + variable + QStringLiteral(" is not set"));
    const QString fix = QStringLiteral("pair this machine (") + kPairFix +
                        QStringLiteral("), or set ") + variable +
                        QStringLiteral(" to the service root");
    const QString text = QStringLiteral("service root: ") + ServiceRoot::display(root.path()) +
                         QStringLiteral(" (") + source + u')';
    // Asked with the root's own bytes: its name is decoded for the line only.
    struct stat st {};
    if (::stat(root.path().constData(), &st) != 0)
        return {Verdict::missing, text + QStringLiteral(", does not exist"), fix};
    if (!S_ISDIR(st.st_mode))
        return {Verdict::fail, text + QStringLiteral(", is not a folder"), fix};
    return {Verdict::ok, text};
}

Check controlScript(const ServiceRoot& root) {
    const QString path = ServiceRoot::display(root.controlScriptPath());
    const QString text = QStringLiteral("control script: ") + path;
    const QString reinstall = QStringLiteral("install the services again: ") + kPairFix;
    switch (root.checkControlScript()) {
    case ServiceRoot::Script::missing:
        return {Verdict::missing, text + QStringLiteral(" not found"), reinstall};
    case ServiceRoot::Script::notRegularFile:
        return {Verdict::fail, text + QStringLiteral(" is not a regular file"), reinstall};
    case ServiceRoot::Script::notExecutable:
        return {Verdict::fail, text + QStringLiteral(" is not executable"),
                QStringLiteral("chmod u+x '") + path + u'\''};
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
        return {Verdict::missing, text + QStringLiteral(" not found; the machine is not paired"),
                kPairFix};
    if (reading.kind != PairingFile::Reading::Kind::text)
        return {Verdict::fail, text + u' ' + PairingFile::problem(reading.kind),
                QStringLiteral("remove it and pair again: ") + kPairFix};
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
        return {Verdict::missing,
                line + QStringLiteral(" (its lines end in CR LF; only a line feed ends a line)"),
                QStringLiteral("sed -i 's/\\r$//' '") +
                    ServiceRoot::display(root.pairingFilePath()) + u'\''};
    return {Verdict::missing, line, kPairFix};
}

// A report names at least one of its keys.
bool holdsReport(const QString& output) {
    static const QStringList keys = {
        u"desired="_qs, u"bridge="_qs,           u"agent="_qs,
        u"hub="_qs,     u"bridge_memory_kb="_qs, u"agent_memory_kb="_qs};
    for (QStringView line : text::splitLines(output))
        for (const QString& key : keys)
            if (line.startsWith(key))
                return true;
    return false;
}

// The one status run the tray would make; only on a paired machine, since
// the tray never asks an unpaired one.
Check statusRun(Invocation& call, const ServiceRoot& root, bool paired) {
    const QString text = QStringLiteral("status run: ");
    if (!paired)
        return {Verdict::off, text + QStringLiteral("not made; the machine is not paired")};
    const auto result = awaitCompletion<CommandResult>(
        [&](auto done) { call.manager.run(QStringLiteral("status"), std::move(done)); });
    const QString fix = QStringLiteral("see what it says: bash '") +
                        ServiceRoot::display(root.controlScriptPath()) + QStringLiteral("' status");
    if (result.status != 0)
        return {Verdict::fail, text + failedRunText(call, result), fix};
    if (!holdsReport(result.output.toString()))
        return {Verdict::fail, text + QStringLiteral("exited 0 without a status report"), fix};
    return {Verdict::ok, text + QStringLiteral("exited 0 with a status report")};
}

// One way of reaching a tray host: present, absent, or not known.
struct Probe {
    enum class Answer { yes, no, unknown } answer;
    QString detail;
};

QStringList dbusSend(const QString& destination, const QString& path, const QString& member,
                     const QStringList& arguments) {
    return QStringList{QStringLiteral("--session"), QStringLiteral("--print-reply"),
                       u"--dest="_qs + destination, path, member} +
           arguments;
}

// The tray program's rule: a StatusNotifierItem host is there when the watcher
// is on the session bus and says a host has registered with it.
Probe statusNotifierHost(const Invocation& call) {
    // Without an address and without the standard socket, dbus-send would
    // try to autolaunch a bus of its own; there is simply none to ask.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        (runtime.isEmpty() || !QFileInfo::exists(runtime + QStringLiteral("/bus"))))
        return {Probe::Answer::no, QStringLiteral("no session bus")};
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    const auto ask = [&](const QStringList& arguments) -> std::variant<bool, QString> {
        const auto outcome = runTool(call, QStringLiteral("dbus-send"), arguments);
        if (!outcome)
            return QStringLiteral("dbus-send not found");
        if (outcome->kind != ProcessOutcome::Kind::exited || outcome->status != 0)
            return whyItFailed(QStringLiteral("dbus-send"), *outcome);
        const QString reply = text::decodeUtf8OrEmpty(outcome->standardOutput);
        if (reply.contains(QStringLiteral("boolean true")))
            return true;
        if (reply.contains(QStringLiteral("boolean false")))
            return false;
        return QStringLiteral("dbus-send gave no answer");
    };
    const auto owned = ask(
        dbusSend(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                 QStringLiteral("org.freedesktop.DBus.NameHasOwner"), {u"string:"_qs + watcher}));
    if (const QString* why = std::get_if<QString>(&owned))
        return {Probe::Answer::unknown, *why};
    if (!std::get<bool>(owned))
        return {Probe::Answer::no, QStringLiteral("no StatusNotifierWatcher on the session bus")};
    const auto host = ask(dbusSend(
        watcher, QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties.Get"),
        {u"string:"_qs + watcher, QStringLiteral("string:IsStatusNotifierHostRegistered")}));
    if (const QString* why = std::get_if<QString>(&host))
        return {Probe::Answer::unknown, *why};
    return std::get<bool>(host)
               ? Probe{Probe::Answer::yes,
                       QStringLiteral("a StatusNotifierItem host is registered on the session bus")}
               : Probe{Probe::Answer::no,
                       QStringLiteral("a StatusNotifierWatcher is on the session bus, "
                                      "but no host has registered with it")};
}

// Opening a display may never return (a server that accepts and stays
// silent), so the question is asked by korvanctl itself in a child, under
// the same time limit as every other helper.
Probe xembedTray(const Invocation& call) {
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return {Probe::Answer::no, QStringLiteral("no X display")};
    const QString display = qEnvironmentVariable("DISPLAY");
    const ProcessOutcome outcome =
        runProgram(call, call.program, {QStringLiteral("--probe-xembed-tray")});
    if (outcome.kind == ProcessOutcome::Kind::timedOut)
        return {Probe::Answer::unknown,
                QStringLiteral("X display ") + display + QStringLiteral(" did not answer")};
    const QString said = firstLine(outcome.standardOutput);
    const QString word = said.section(u' ', 0, 0);
    const QString detail = said.section(u' ', 1);
    if (outcome.kind != ProcessOutcome::Kind::exited || outcome.status != 0 || detail.isEmpty())
        return {Probe::Answer::unknown, whyItFailed(QStringLiteral("the XEmbed check"), outcome)};
    return {word == u"yes"  ? Probe::Answer::yes
            : word == u"no" ? Probe::Answer::no
                            : Probe::Answer::unknown,
            detail};
}

Check trayHost(const Invocation& call) {
    const QString fix =
        QStringLiteral("start a panel with a tray (on GNOME: gnome-shell-extension-appindicator)");
    const Probe sni = statusNotifierHost(call);
    if (sni.answer == Probe::Answer::yes)
        return {Verdict::ok, QStringLiteral("tray host: ") + sni.detail};
    const Probe xembed = xembedTray(call);
    if (xembed.answer == Probe::Answer::yes)
        return {Verdict::ok, QStringLiteral("tray host: ") + xembed.detail};
    const bool neither = sni.answer == Probe::Answer::no && xembed.answer == Probe::Answer::no;
    return {neither ? Verdict::missing : Verdict::unknown,
            QStringLiteral("tray host: ") + sni.detail + QStringLiteral("; ") + xembed.detail, fix};
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
        return {Verdict::warn,
                QStringLiteral("start at login: ") + path +
                    QStringLiteral(" names a program that is gone"),
                QStringLiteral("switch 开机启动 off and on again in the tray menu, or remove ") +
                    path};
    case LoginItemStatus::requiresApproval:
        break;
    }
    return {Verdict::unknown, QStringLiteral("start at login: ") + path};
}

Check linkHandler(const Invocation& call) {
    const QString desktopFile = QStringLiteral("korvan-controller.desktop");
    const QString fix =
        QStringLiteral("xdg-mime default korvan-controller.desktop x-scheme-handler/korvan");
    const auto outcome = runTool(call, QStringLiteral("xdg-mime"),
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
        return {Verdict::missing, QStringLiteral("korvan:// links: no handler"), fix};
    return {Verdict::warn, QStringLiteral("korvan:// links: opened by ") + handler, fix};
}

// Asks the X server which window owns the system tray selection. No
// command-line tool in the distribution reports a selection's owner, so the
// client library is loaded at run time: korvanctl keeps no link-time tie to
// X and still works where it is not installed.
Probe askXServer() {
    const QByteArray display = qgetenv("DISPLAY");
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

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

int xembedProbeCommand(Invocation& call) {
    const Probe probe = askXServer();
    const QString word = probe.answer == Probe::Answer::yes  ? QStringLiteral("yes")
                         : probe.answer == Probe::Answer::no ? QStringLiteral("no")
                                                             : QStringLiteral("unknown");
    call.streams.out(word + u' ' + probe.detail + u'\n');
    return 0;
}

int doctorCommand(Invocation& call) {
    const ServiceRoot root = call.root();
    const Check place = serviceRoot(root);
    const Check script = controlScript(root);
    const Check pairing = pairingFile(root);
    call.streams.out(lineFor(place) + lineFor(script) + lineFor(pairing));
    const Check status = statusRun(call, root, pairing.verdict == Verdict::ok);
    const Check tray = trayHost(call);
    for (const Check& check : {status, tray, loginItem(), linkHandler(call)})
        call.streams.out(lineFor(check));
    // Start-at-login and link routing are conveniences; the controller runs
    // without them, and without a display there is no tray to look for.
    const bool ready = script.verdict == Verdict::ok && pairing.verdict == Verdict::ok &&
                       status.verdict == Verdict::ok &&
                       (tray.verdict != Verdict::missing || !hasDisplay());
    return ready ? 0 : 1;
}

} // namespace cli
