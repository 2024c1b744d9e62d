#include "DesktopEntry.h"

#include "core/TextRules.h"

namespace DesktopEntry {

namespace {

const QString kMainGroup = QStringLiteral("Desktop Entry");

QString unescapeValue(QStringView value) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != u'\\' || i + 1 == value.size()) {
            out.append(c);
            continue;
        }
        const QChar next = value[++i];
        switch (next.unicode()) {
        case u's':
            out.append(u' ');
            break;
        case u'n':
            out.append(u'\n');
            break;
        case u't':
            out.append(u'\t');
            break;
        case u'r':
            out.append(u'\r');
            break;
        case u'\\':
            out.append(u'\\');
            break;
        default:
            // Not a string escape: left for the Exec quoting rules to read.
            out.append(c);
            out.append(next);
        }
    }
    return out;
}

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

} // namespace

std::optional<QHash<QString, QString>> parse(const QByteArray& contents) {
    const std::optional<QString> decoded = text::decodeUtf8(contents, text::Bom::skip);
    if (!decoded)
        return std::nullopt;
    const QString& body = *decoded;

    QHash<QString, QString> entries;
    bool seenGroup = false;
    bool inMainGroup = false;
    for (QStringView line : QStringView(body).split(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            if (!line.endsWith(u']'))
                return std::nullopt;
            const QStringView name = line.sliced(1, line.size() - 2);
            // The main group has to come first; a second one is just another group.
            if (!seenGroup && name != kMainGroup)
                return std::nullopt;
            inMainGroup = !seenGroup;
            seenGroup = true;
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!seenGroup || equals <= 0)
            return std::nullopt;
        const QString key = line.first(equals).trimmed().toString();
        if (key.isEmpty())
            return std::nullopt;
        if (inMainGroup)
            entries.insert(key, unescapeValue(line.sliced(equals + 1).trimmed()));
    }
    if (!seenGroup)
        return std::nullopt;
    return entries;
}

std::optional<QStringList> splitExec(const QString& exec) {
    QStringList arguments;
    QString current;
    bool inArgument = false;
    bool inQuote = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (inQuote) {
            if (c == u'\\' && i + 1 < exec.size() && QStringView(u"\"`$\\").contains(exec[i + 1])) {
                current.append(exec[++i]);
            } else if (c == u'"') {
                inQuote = false;
            } else {
                current.append(c);
            }
        } else if (isBlank(c)) {
            if (inArgument)
                arguments.append(std::exchange(current, QString()));
            inArgument = false;
        } else if (c == u'"') {
            inQuote = true;
            inArgument = true;
        } else {
            current.append(c);
            inArgument = true;
        }
    }
    if (inQuote)
        return std::nullopt;
    if (inArgument)
        arguments.append(current);
    if (arguments.isEmpty())
        return std::nullopt;
    return arguments;
}

QString escapeValue(const QString& value) {
    QString out;
    out.reserve(value.size() + 8);
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c == u'\\')
            out.append(u"\\\\");
        else if (c == u'\n')
            out.append(u"\\n");
        else if (c == u'\t')
            out.append(u"\\t");
        else if (c == u'\r')
            out.append(u"\\r");
        else if (c == u' ' && i == 0)
            out.append(u"\\s"); // a leading space would be dropped as padding
        else
            out.append(c);
    }
    return out;
}

} // namespace DesktopEntry
