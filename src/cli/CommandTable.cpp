#include "CommandTable.h"

#include "KorvanConfig.h"

#include <QList>
#include <algorithm>
#include <variant>

namespace cli {

namespace {

struct OptionRow {
    QString name;
    QString valueName; // empty for a flag
};

struct ExitRow {
    QString status;
    QString meaning;
};

struct CommandRow {
    QString name;
    QList<OptionRow> options;
    QString help; // one line, or several joined by line feeds
    QList<ExitRow> exits;
    int (*run)(Invocation&);
    // What the options together may not say; empty when they are fine.
    QString (*check)(const Options&) = nullptr;
    bool hidden = false; // for korvanctl's own use: no help, manual or completion
};

int helpCommand(Invocation& call);

int versionCommand(Invocation& call) {
    call.streams.out(QStringLiteral("korvanctl ") + QLatin1StringView(korvan::version) + u'\n');
    return 0;
}

QString statusCheck(const Options& options) {
    const bool openMetrics = options.has(QStringLiteral("--openmetrics"));
    if (openMetrics && options.has(QStringLiteral("--json")))
        return QStringLiteral("--json and --openmetrics cannot be used together");
    if (options.has(QStringLiteral("--output")) && !openMetrics)
        return QStringLiteral("--output needs --openmetrics");
    if (options.value(QStringLiteral("--output")) == QString())
        return QStringLiteral("--output needs a file name, or - for standard output");
    return {};
}

QString pairCheck(const Options& options) {
    if (options.value(QStringLiteral("--code")) == u"-" &&
        options.value(QStringLiteral("--link")) == u"-")
        return QStringLiteral("only one of --code and --link can read standard input");
    return {};
}

QList<CommandRow> commandTable() {
    const QList<ExitRow> serviceExits = {
        {u"N"_qs, u"the control script's own exit status"_qs},
        {u"127"_qs, u"the control script is missing or not executable"_qs},
        {u"126"_qs, u"the control script cannot be launched"_qs},
        {u"N"_qs, u"the number of the signal that ended the script"_qs}};
    return {
        {u"status"_qs,
         {{u"--json"_qs, {}}, {u"--openmetrics"_qs, {}}, {u"--output"_qs, u"FILE"_qs}},
         u"print the services' state (the tray menu's lines), as one\n"
         "JSON object, or as gauges in the OpenMetrics text format\n"
         "with FILE replaced atomically (- for standard output)"_qs,
         {{u"0"_qs, u"the status run exited 0, or the machine is not paired;\n"
                    "with --openmetrics, once everything is written"_qs},
          {u"1"_qs, u"the status run failed (one line on standard error says\n"
                    "how); the lines or the JSON are still printed"_qs}},
         statusCommand,
         statusCheck},
        {u"start"_qs,
         {},
         u"start the services through the control script"_qs,
         serviceExits,
         serviceCommand},
        {u"stop"_qs, {}, u"stop the services"_qs, serviceExits, serviceCommand},
        {u"restart"_qs, {}, u"restart the services"_qs, serviceExits, serviceCommand},
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
             "- reads the code or the link from standard input,\n"
             "--verbose also prints the installer's output"_qs,
         {{u"0"_qs, u"paired"_qs},
          {u"N"_qs, u"the installer's own exit status when it failed"_qs},
          {u"1"_qs, u"the download failed, or the installer exited 0 without\n"
                    "leaving a pairing file"_qs},
          {u"2"_qs, u"an empty code, or a korvan:// link that is not a pairing link"_qs},
          {u"64"_qs, u"the hub address is not usable"_qs}},
         pairCommand,
         pairCheck},
        {u"doctor"_qs,
         {},
         u"check the service root, control script, status run,\n"
         "pairing file, tray host, start-at-login entry and\n"
         "korvan:// link handler, one line each, with the fix\n"
         "under each line that needs one"_qs,
         {{u"0"_qs, u"the controller can work here"_qs},
          {u"1"_qs, u"it cannot: no usable script, a failing status run, no\n"
                    "pairing, or no tray host while a display is there"_qs}},
         doctorCommand},
        {u"help"_qs,
         {},
         u"show this help, or with a command its own\n"
         "(also -h or --help, alone or after a command)"_qs,
         {},
         helpCommand},
        {u"--version"_qs, {}, u"show the version"_qs, {}, versionCommand},
        {u"--probe-xembed-tray"_qs, {}, {}, {}, xembedProbeCommand, nullptr, true},
    };
}

const QList<ExitRow> commonExits = {
    {u"2"_qs, u"usage error"_qs},
    {u"74"_qs, u"writing to standard output, standard error or --output failed"_qs},
    {u"128+N"_qs, u"korvanctl was ended by signal N"_qs}};

constexpr qsizetype kHelpColumn = 20;

QString synopsisOf(const CommandRow& row) {
    QString synopsis = row.name == u"help" ? u"help [COMMAND]"_qs : row.name;
    for (const OptionRow& option : row.options)
        synopsis += QStringLiteral(" [") + option.name +
                    (option.valueName.isEmpty() ? QString() : u' ' + option.valueName) + u']';
    return synopsis;
}

// Rows of a left column and an indented, possibly multi-line, right one.
QString columns(const QList<std::pair<QString, QString>>& rows, qsizetype column) {
    QString text;
    const QString indent(column, u' ');
    for (const auto& [left, right] : rows) {
        text += QStringLiteral("  ") + left;
        // A left side too long for its column gets a line of its own.
        text +=
            left.size() + 4 <= column ? QString(column - 2 - left.size(), u' ') : u'\n' + indent;
        text += right.split(u'\n').join(u'\n' + indent) + u'\n';
    }
    return text;
}

QString exitTable(const QList<ExitRow>& exits) {
    QList<std::pair<QString, QString>> rows;
    for (const ExitRow& row : exits + commonExits)
        rows.append({row.status, row.meaning});
    return QStringLiteral("exit status:\n") + columns(rows, 9);
}

QString commandHelp(const CommandRow& row) {
    return QStringLiteral("usage: korvanctl ") + synopsisOf(row) + QStringLiteral("\n\n") +
           row.help + QStringLiteral("\n\n") + exitTable(row.exits);
}

std::optional<CommandRow> rowNamed(const QString& word) {
    for (const CommandRow& row : commandTable())
        if (row.name == word || (word == u"--help" && row.name == u"help"))
            return row;
    return std::nullopt;
}

bool isHelpWord(const QString& arg) {
    return arg == u"-h" || arg == u"--help" || arg == u"help";
}

int helpCommand(Invocation& call) {
    // `help` and `--help` take at most the name of a command.
    if (call.arguments.size() > 2)
        return usageError(call,
                          QStringLiteral("unexpected argument '") + call.arguments[2] + u'\'');
    if (call.arguments.size() < 2) {
        call.streams.out(usageText());
        return 0;
    }
    if (isHelpWord(call.arguments[1])) {
        call.streams.out(usageText());
        return 0;
    }
    const std::optional<CommandRow> row = rowNamed(call.arguments[1]);
    if (!row || row->hidden)
        return usageError(call, QStringLiteral("unknown command '") + call.arguments[1] + u'\'');
    call.streams.out(commandHelp(*row));
    return 0;
}

// `--name value` and `--name=value`; a flag takes no value; a repeated option
// keeps its last value. Anything else is a mistake, named. One pass with a
// branch per kind of word reads better here than helpers passing `i` around.
// NOLINTNEXTLINE(readability-function-cognitive-complexity)
std::variant<Options, QString> parse(const CommandRow& row, const QStringList& args) {
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
        if (option == row.options.end()) {
            if (!name.startsWith(u'-') || name == u"-")
                return QStringLiteral("unexpected argument '") + args[i] + u'\'';
            for (const CommandRow& other : commandTable())
                for (const OptionRow& o : other.options)
                    if (o.name == name)
                        return QStringLiteral("unknown option '") + name +
                               QStringLiteral("' (an option of ") + other.name + u')';
            return QStringLiteral("unknown option '") + name + u'\'';
        }
        if (option->valueName.isEmpty()) {
            if (value)
                return name + QStringLiteral(" takes no value");
            value = QString();
        } else if (!value) {
            if (i + 1 >= args.size())
                return name + QStringLiteral(" needs a value");
            value = args[++i];
        }
        options.given.insert(name, *value);
    }
    if (const QString mistake = row.check ? row.check(options) : QString(); !mistake.isEmpty())
        return mistake;
    return options;
}

} // namespace

QString usageText() {
    QList<std::pair<QString, QString>> rows;
    for (const CommandRow& row : commandTable())
        if (!row.hidden)
            rows.append({synopsisOf(row), row.help});
    QList<std::pair<QString, QString>> exits;
    for (const ExitRow& row : commonExits)
        exits.append({row.status, row.meaning});
    return QStringLiteral("usage: korvanctl <command> [options]\n\ncommands:\n") +
           columns(rows, kHelpColumn) + QStringLiteral("\nEvery command exits with:\n") +
           columns(exits, 9) +
           QStringLiteral("'korvanctl help COMMAND' shows the command's other statuses.\n"
                          "\nThe service root is $") +
           QLatin1StringView(ServiceRoot::variable) + QStringLiteral(", or\n~/") +
           QStringView(ServiceRoot::defaultRelativePath) + QStringLiteral(" when it is unset.\n");
}

int usageError(Invocation& call, const QString& mistake) {
    const bool named = !call.command.isEmpty() && call.command != u"help";
    call.streams.err(QStringLiteral("korvanctl") + (named ? u' ' + call.command : QString()) +
                     QStringLiteral(": ") + mistake +
                     QStringLiteral("\nTry 'korvanctl --help'.\n"));
    return kUsageError;
}

int runCommandLine(Invocation& call) {
    const QStringList& args = call.arguments;
    if (args.isEmpty())
        return usageError(call, QStringLiteral("no command given"));
    const QString word = isHelpWord(args.first()) ? u"help"_qs : args.first();
    const std::optional<CommandRow> row = rowNamed(word);
    if (!row || (row->hidden && args.size() > 1))
        return usageError(call, QStringLiteral("unknown command '") + args.first() + u'\'');
    call.command = row->name;
    if (row->name == u"help")
        return row->run(call);
    const QStringList rest = args.mid(1);
    if (!row->hidden && (rest.contains(u"-h"_qs) || rest.contains(u"--help"_qs))) {
        call.streams.out(commandHelp(*row));
        return 0;
    }
    auto parsed = parse(*row, rest);
    if (const QString* mistake = std::get_if<QString>(&parsed))
        return usageError(call, *mistake);
    call.options = std::get<Options>(std::move(parsed));
    // "-" names standard output, where the text goes without --output.
    if (call.options.value(QStringLiteral("--output")) == u"-")
        call.options.given.remove(QStringLiteral("--output"));
    return row->run(call);
}

} // namespace cli
