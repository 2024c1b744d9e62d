// User-visible texts of the tray controller, exactly as the product words them.
#pragma once

#include <QHash>
#include <QString>

namespace AppTexts {

inline const QString productName = QStringLiteral("Korvan Remote");

// Menu commands.
inline const QString startTitle = QStringLiteral("启动 Korvan Remote");
inline const QString stopTitle = QStringLiteral("停止并释放内存");
inline const QString restartTitle = QStringLiteral("重新启动");
inline const QString openMobileTitle = QStringLiteral("打开 Korvan 移动端");
inline const QString openLocalTitle = QStringLiteral("打开本地控制台");
inline const QString pairingTitle = QStringLiteral("连接账号与 Mac...");
inline const QString loginItemTitle = QStringLiteral("登录 Mac 时启动控制器");
inline const QString stopAndQuitTitle = QStringLiteral("停止服务并退出");
inline const QString quitTitle = QStringLiteral("退出控制器");

// The accessibility descriptions of the menu rows' pictures, by symbol.
inline const QHash<QString, QString> pictureDescriptions = {
    {QStringLiteral("antenna.radiowaves.left.and.right"), QStringLiteral("Korvan")},
    {QStringLiteral("play.fill"), QStringLiteral("启动")},
    {QStringLiteral("stop.fill"), QStringLiteral("停止")},
    {QStringLiteral("arrow.clockwise"), QStringLiteral("重启")},
    {QStringLiteral("iphone"), QStringLiteral("移动端")},
    {QStringLiteral("macbook"), QStringLiteral("本地")},
    {QStringLiteral("link"), QStringLiteral("配对")},
};

// The alert of a failed command or start-at-login switch.
inline const QString errorMessage = QStringLiteral("Korvan 无法完成操作");
inline const QString errorButton = QStringLiteral("知道了");

// The name start-at-login registers the program under.
inline const QString controllerName = QStringLiteral("Korvan Controller");

// Pages the menu opens in the browser. The hub address is the application's
// one default hub; the pairing window starts from the same address.
inline const QString localConsoleURL = QStringLiteral("http://127.0.0.1:8796");

} // namespace AppTexts
