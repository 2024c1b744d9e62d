#include "core/RemoteState.h"

QString remoteStateName(RemoteState state) {
    switch (state) {
    case RemoteState::stopped:
        return QStringLiteral("stopped");
    case RemoteState::switching:
        return QStringLiteral("switching");
    case RemoteState::linked:
        return QStringLiteral("linked");
    case RemoteState::connecting:
        return QStringLiteral("connecting");
    case RemoteState::failed:
        return QStringLiteral("failed");
    }
    return QStringLiteral("failed");
}
