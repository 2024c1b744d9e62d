#include "OpenMetrics.h"

#include <array>

namespace cli {

namespace {

// The format knows exactly these three escapes; every other character,
// carriage returns and NULs included, stands for itself inside the quotes.
QString escapedLabelValue(QStringView value) {
    QString out;
    out.reserve(value.size());
    for (QChar c : value) {
        if (c == u'\\')
            out += u"\\\\";
        else if (c == u'"')
            out += u"\\\"";
        else if (c == u'\n')
            out += u"\\n";
        else
            out += c;
    }
    return out;
}

QString label(QStringView name, QStringView value) {
    return u',' + name + u"=\"" + escapedLabelValue(value) + u'"';
}

QString flag(bool on) {
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

class Exposition {
public:
    explicit Exposition(QStringView user)
        : userLabel_(QStringLiteral("user=\"") + escapedLabelValue(user) + u'"') {}

    // HELP texts are written without quotes and backslashes: the two formats
    // escape them differently there.
    void family(QStringView name, QStringView help) {
        text_ += u"# HELP " + name + u' ' + help + u"\n# TYPE " + name + u" gauge\n";
        name_ = name.toString();
    }

    void series(const QString& labels, const QString& value) {
        text_ += name_ + u'{' + userLabel_ + labels + u"} " + value + u'\n';
    }

    QString finished() { return text_ + u"# EOF\n"; }

private:
    QString userLabel_;
    QString name_;
    QString text_;
};

} // namespace

QString bytesFromKB(qint64 kb) {
    // Up to 2^63 KB is 2^73 bytes: beyond 64 bits, inside 128.
    const auto wide = static_cast<__int128>(kb) * 1024;
    unsigned __int128 magnitude =
        wide < 0 ? -static_cast<unsigned __int128>(wide) : static_cast<unsigned __int128>(wide);
    std::array<char16_t, 40> digits{};
    std::size_t n = 0;
    do {
        digits[n++] = static_cast<char16_t>(u'0' + static_cast<int>(magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    QString out = wide < 0 ? QStringLiteral("-") : QString();
    while (n > 0)
        out += QChar(digits[--n]);
    return out;
}

QString openMetricsText(const StatusMetrics& m) {
    const ServiceSnapshot& s = m.snapshot;
    Exposition e(m.user);

    e.family(u"korvan_paired", u"1 when this machine holds a pairing with a hub");
    e.series(QString(), flag(m.paired));

    // Every state a file can hold is listed, so a query by state always finds its series.
    const QString state = m.paired ? remoteStateName(s.state()) : unpairedStateName;
    e.family(u"korvan_state",
             u"1 for the overall state that the tray shows, unpaired without a pairing");
    for (const QString& name :
         {remoteStateName(RemoteState::stopped), remoteStateName(RemoteState::linked),
          remoteStateName(RemoteState::connecting), remoteStateName(RemoteState::failed),
          unpairedStateName})
        e.series(label(u"state", name), flag(name == state));
    if (!m.paired)
        return e.finished();

    e.family(u"korvan_desired",
             u"1 for the desired value the status report gives, 0 for the other known values");
    for (QStringView v : {u"enabled", u"disabled"})
        e.series(label(u"value", v), flag(s.desired == v));

    e.family(u"korvan_component_up", u"1 when the status report says the component is online");
    e.series(label(u"component", u"bridge"), flag(s.bridge == u"online"));
    e.series(label(u"component", u"agent"), flag(s.agent == u"online"));
    e.series(label(u"component", u"hub"), flag(s.hub == u"online"));

    e.family(u"korvan_memory_bytes",
             u"Memory of the component in bytes, 1024 per kilobyte of the status report");
    e.series(label(u"component", u"bridge"), bytesFromKB(s.bridgeMemoryKB));
    e.series(label(u"component", u"agent"), bytesFromKB(s.agentMemoryKB));

    e.family(u"korvan_report_info", u"Always 1; the labels carry the raw texts of the report");
    e.series(label(u"desired", s.desired) + label(u"bridge", s.bridge) + label(u"agent", s.agent) +
                 label(u"hub", s.hub),
             QStringLiteral("1"));

    e.family(u"korvan_status_exit_code",
             u"Exit status of the status run; 127 when the control script is missing");
    e.series(QString(), QString::number(m.exitCode));

    return e.finished();
}

} // namespace cli
