// StatusText: the words of the menu's five information lines, and the lines
// for a snapshot as pure functions.
//
// Shared by the tray menu and korvanctl, so both always print the same words.
// Any thread may call them.
#pragma once

#include "core/RemoteState.h"
#include "core/ServiceSnapshot.h"

#include <QString>

namespace StatusText {

// Per displayed state and per service.
inline const QString stateStopped = QStringLiteral("状态: 已停止");
inline const QString stateSwitching = QStringLiteral("状态: 正在切换...");
inline const QString stateLinked = QStringLiteral("状态: 已联动");
inline const QString stateConnecting = QStringLiteral("状态: 正在连接");
inline const QString stateFailed = QStringLiteral("状态: 启动失败");

inline const QString bridgePrefix = QStringLiteral("Bridge: ");
inline const QString agentPrefix = QStringLiteral("Agent: ");
inline const QString hubPrefix = QStringLiteral("云端: ");
inline const QString running = QStringLiteral("运行中");
inline const QString stopped = QStringLiteral("已停止");
inline const QString hubLinked = QStringLiteral("已联动");
inline const QString hubNotConnected = QStringLiteral("未连接");
inline const QString memoryZero = QStringLiteral("当前占用: 0 MB");
inline const QString memoryAboutPrefix = QStringLiteral("当前占用: 约 ");
inline const QString memorySuffix = QStringLiteral(" MB");

// Before the first report.
inline const QString stateChecking = QStringLiteral("正在检查状态...");
inline const QString bridgeChecking = QStringLiteral("Bridge: 检查中");
inline const QString agentChecking = QStringLiteral("Agent: 检查中");
inline const QString hubChecking = QStringLiteral("云端: 检查中");
inline const QString memoryUnknown = QStringLiteral("当前占用: --");

// A machine that is not paired yet.
inline const QString stateWaitingForPairing = QStringLiteral("状态: 等待配对");
inline const QString bridgeNotInstalled = QStringLiteral("Bridge: 尚未安装");
inline const QString agentNotInstalled = QStringLiteral("Agent: 尚未安装");
inline const QString hubNotConnectedLine = QStringLiteral("云端: 未连接");

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
