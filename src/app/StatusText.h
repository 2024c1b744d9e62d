// StatusText: the menu's information lines for a snapshot, as pure functions.
//
// Shared by the tray menu and korvanctl, so both always print the same words.
// Any thread may call them.
#pragma once

#include "service/RemoteState.h"
#include "service/ServiceSnapshot.h"

#include <QString>

namespace StatusText {

QString stateLine(RemoteState state);
QString bridgeLine(const ServiceSnapshot& snapshot);
QString agentLine(const ServiceSnapshot& snapshot);
QString hubLine(const ServiceSnapshot& snapshot);

// The two memory values added up, in MB rounded half away from zero:
// "当前占用: 0 MB" below 1, else "当前占用: 约 N MB". A total beyond the
// 64-bit range is summed exactly and still gives a sensible line.
QString memoryLine(qint64 bridgeMemoryKB, qint64 agentMemoryKB);
QString memoryLine(const ServiceSnapshot& snapshot);

} // namespace StatusText
