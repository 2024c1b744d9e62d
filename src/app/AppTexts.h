// User-visible texts of the tray controller, exactly as the product words them.
#pragma once

#include <QString>

namespace AppTexts {

// Information lines, per displayed state and per service.
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

} // namespace AppTexts
