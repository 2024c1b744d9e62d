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

// The menu as it reads before the first report.
inline const QString productName = QStringLiteral("Korvan Remote");
inline const QString stateChecking = QStringLiteral("正在检查状态...");
inline const QString bridgeChecking = QStringLiteral("Bridge: 检查中");
inline const QString agentChecking = QStringLiteral("Agent: 检查中");
inline const QString hubChecking = QStringLiteral("云端: 检查中");
inline const QString memoryUnknown = QStringLiteral("当前占用: --");

// The lines of a machine that is not paired yet.
inline const QString stateWaitingForPairing = QStringLiteral("状态: 等待配对");
inline const QString bridgeNotInstalled = QStringLiteral("Bridge: 尚未安装");
inline const QString agentNotInstalled = QStringLiteral("Agent: 尚未安装");
inline const QString hubNotConnectedLine = QStringLiteral("云端: 未连接");

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

// The alert of a failed command or start-at-login switch.
inline const QString errorMessage = QStringLiteral("Korvan 无法完成操作");
inline const QString errorButton = QStringLiteral("知道了");

// The name start-at-login registers the program under.
inline const QString controllerName = QStringLiteral("Korvan Controller");

// Pages the menu opens in the browser. The hub address is the application's
// one default hub; the pairing window starts from the same address.
inline const QString localConsoleURL = QStringLiteral("http://127.0.0.1:8796");

} // namespace AppTexts
