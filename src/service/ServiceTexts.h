// User-visible texts of the service subsystem, exactly as the product words them.
#pragma once

#include <QString>

namespace ServiceTexts {

inline const QString scriptMissing =
    QStringLiteral("找不到 Korvan 服务控制脚本，请先更新 Korvan。");
inline const QString statusTimedOut = QStringLiteral("status timed out");

// Enrollment.
inline const QString invalidHub = QStringLiteral("Korvan 地址无效。");
inline const QString downloading = QStringLiteral("正在下载安装程序...");
inline const QString downloadFailed = QStringLiteral("无法从 Korvan 下载安装程序。");
inline const QString installing = QStringLiteral("正在安装 Agent 与 Local Bridge...");
inline const QString invalidPairCode = QStringLiteral("配对码包含无效字符。");
inline const QString requestTimedOut = QStringLiteral("请求超时。");

} // namespace ServiceTexts
