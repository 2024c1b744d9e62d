// What the tray layer says when the desktop shows no tray icons: one line on
// standard error and one desktop notification, exactly as the product words
// them.
#pragma once

#include <QString>

namespace TrayTexts {

inline const QString noTrayLine = QStringLiteral(
    "korvan-controller: this desktop shows no tray icons; the item will appear when a tray "
    "starts (on GNOME: the AppIndicator extension, gnome-shell-extension-appindicator). See: "
    "korvanctl doctor");
inline const QString noTrayNotificationBody = QStringLiteral(
    "Korvan Remote 正在运行，但当前桌面无法显示托盘图标，托盘可用后图标会自动出现。GNOME "
    "用户请安装并启用 AppIndicator 扩展（gnome-shell-extension-appindicator）。运行 korvanctl "
    "doctor 可查看详情。");

} // namespace TrayTexts
