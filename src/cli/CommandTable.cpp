#include "CommandTable.h"

#include "KorvanConfig.h"
#include "SignalGuard.h"
#include "service/ServiceManager.h"

#include <QList>
#include <algorithm>

namespace cli {

namespace {

struct OptionRow {
    QString name;
    QString valueName; // empty for a flag
};

struct CommandRow {
    QString name;
    QList<OptionRow> options;
    QString help; // one line, or several joined by line feeds
    int (*run)(Invocation&);
};

int helpCommand(Invocation& call) {
    call.streams.out(usageText());
    return 0;
}

int versionCommand(Invocation& call) {
    call.streams.out(QStringLiteral("korvanctl " KORVAN_VERSION "\n"));
    return 0;
}

QList<CommandRow> commandTable() {
    return {
        {u"status"_qs,
         {{u"--json"_qs, {}}, {u"--openmetrics"_qs, {}}, {u"--output"_qs, u"FILE"_qs}},
         u"print the services' state (the tray menu's lines), as one\n"
         "JSON object, or as gauges in the OpenMetrics text format\n"
         "with FILE replaced atomically; exit 74 if writing fails"_qs,
         statusCommand},
        {u"start"_qs, {}, u"start the services through the control script"_qs, serviceCommand},
        {u"stop"_qs, {}, u"stop the services"_qs, serviceCommand},
        {u"restart"_qs, {}, u"restart the services"_qs, serviceCommand},
        {u"pair"_qs,
         {{u"--hub"_qs, u"URL"_qs},
          {u"--code"_qs, u"CODE"_qs},
          {u"--link"_qs, u"LINK"_qs},
          {u"--verbose"_qs, {}}},
         u"pair this machine with a hub using a one-time code;\n"
         "the hub defaults to "_qs +
             korvan::defaultHubURL +
             u", a korvan://\n"
             "link fills hub and code, --hub and --code win over it,\n"
             "--verbose also prints the installer's output"_qs,
         pairCommand},
        {u"doctor"_qs,
         {},
         u"check the service root, control script, pairing file,\n"
         "tray host, start-at-login entry and korvan:// link\n"
         "handler, one line each; exit 1 when the controller\n"
         "could not run here (no script, pairing or tray host)"_qs,
         doctorCommand},
        {u"--help"_qs, {}, u"show this help"_qs, helpCommand},
        {u"--version"_qs, {}, u"show the version"_qs, versionCommand},
    };
}

constexpr qsizetype kHelpColumn = 20;

// `--name value` and `--name=value`; a flag takes no value; a repeated option
// keeps its last value. Anything else is refused.
std::optional<Options> parse(const CommandRow& row, const QStringList& args) {
    Options options;
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString name = args[i];
        std::optional<QString> value;
        if (const qsizetype eq = name.indexOf(u'='); name.startsWith(u"--") && eq > 0) {
            value = name.sliced(eq + 1);
            name.truncate(eq);
        }
        const auto option = std::find_if(row.options.begin(), row.options.end(),
                                         [&](const OptionRow& o) { return o.name == name; });
        if (option == row.options.end())
            return std::nullopt;
        if (option->valueName.isEmpty()) {
            if (value)
                return std::nullopt;
            value = QString();
        } else if (!value) {
            if (i + 1 >= args.size())
                return std::nullopt;
            value = args[++i];
        }
        options.given.insert(name, *value);
    }
    return options;
}

} // namespace

QString usageText() {
    QString text = QStringLiteral("usage: korvanctl <command> [options]\n\ncommands:\n");
    const QString indent(kHelpColumn, u' ');
    for (const CommandRow& row : commandTable()) {
        QString synopsis = row.name;
        for (const OptionRow& option : row.options)
            synopsis += QStringLiteral(" [") + option.name +
                        (option.valueName.isEmpty() ? QString() : u' ' + option.valueName) + u']';
        const QStringList help = row.help.split(u'\n');
        text += QStringLiteral("  ") + synopsis;
        // A synopsis too long for its column gets a line of its own.
        text += synopsis.size() + 4 <= kHelpColumn
                    ? QString(kHelpColumn - 2 - synopsis.size(), u' ')
                    : u'\n' + indent;
        text += help.join(u'\n' + indent) + u'\n';
    }
    return text + QStringLiteral("\nThe service root is $") +
           QLatin1StringView(ServiceRoot::variable) + QStringLiteral(", or\n~/") +
           QStringView(ServiceRoot::defaultRelativePath) + QStringLiteral(" when it is unset.\n");
}

int runCommandLine(QStringList args, StandardStreams& streams) {
    const QString word = args.isEmpty() ? QString() : args.takeFirst();
    for (const CommandRow& row : commandTable()) {
        if (row.name != word)
            continue;
        const std::optional<Options> options = parse(row, args);
        if (!options)
            break;
        ServiceManager manager;
        const SignalGuard signalGuard(manager.runner());
        Invocation call{word, manager, streams, *options};
        return row.run(call);
    }
    streams.err(usageText());
    return 2;
}

} // namespace cli
