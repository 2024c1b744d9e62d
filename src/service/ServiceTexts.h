// User-visible texts of the service subsystem, exactly as the product words them.
#pragma once

#include <QString>

namespace ServiceTexts {

inline const QString scriptMissing =
    QStringLiteral("找不到 Korvan 服务控制脚本，请先更新 Korvan。");
inline const QString statusTimedOut = QStringLiteral("status timed out");

} // namespace ServiceTexts
