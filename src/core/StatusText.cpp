#include "StatusText.h"

#include <cmath>

namespace StatusText {

namespace {

QString line(const QString& prefix, bool on, const QString& onText, const QString& offText) {
    return prefix + (on ? onText : offText);
}

} // namespace

QString stateLine(RemoteState state) {
    switch (state) {
    case RemoteState::stopped:
        return stateStopped;
    case RemoteState::switching:
        return stateSwitching;
    case RemoteState::linked:
        return stateLinked;
    case RemoteState::connecting:
        return stateConnecting;
    case RemoteState::failed:
        break;
    }
    return stateFailed;
}

QString bridgeLine(const ServiceSnapshot& s) {
    return line(bridgePrefix, s.bridge == u"online", running, stopped);
}

QString agentLine(const ServiceSnapshot& s) {
    return line(agentPrefix, s.agent == u"online", running, stopped);
}

QString hubLine(const ServiceSnapshot& s) {
    return line(hubPrefix, s.hub == u"online", hubLinked, hubNotConnected);
}

QString memoryLine(qint64 bridgeMemoryKB, qint64 agentMemoryKB) {
    // The sum of two 64-bit values needs 65 bits; a 128-bit integer keeps it
    // exact instead of wrapping (which would show a huge total as 0 MB).
    const __int128 sumKB = static_cast<__int128>(bridgeMemoryKB) + agentMemoryKB;
    const double megabytes = std::round(static_cast<double>(sumKB) / 1024.0);
    if (megabytes < 1.0)
        return memoryZero;
    return memoryAboutPrefix + QString::number(megabytes, 'f', 0) + memorySuffix;
}

QString memoryLine(const ServiceSnapshot& s) {
    return memoryLine(s.bridgeMemoryKB, s.agentMemoryKB);
}

} // namespace StatusText
