// User-visible texts of the pairing window, exactly as the product words them.
#pragma once

#include <QString>

namespace PairingTexts {

inline const QString windowTitle = QStringLiteral("Korvan Controller");
inline const QString title = QStringLiteral("连接 Korvan");
inline const QString subtitle = QStringLiteral("把这台 Mac 与当前 Korvan 账号一对一绑定。");
inline const QString hubCaption = QStringLiteral("Korvan 地址");
inline const QString codeCaption = QStringLiteral("一次性配对码");
inline const QString codePlaceholder = QStringLiteral("ABCD-EFGH-IJKL");
inline const QString connectButton = QStringLiteral("连接这台 Mac");

// Status lines.
inline const QString prompt = QStringLiteral("输入移动端生成的一次性配对码。");
inline const QString alreadyPaired =
    QStringLiteral("这台 Mac 已经配对。只有管理员解除旧绑定后，新的配对码才会生效。");
inline const QString emptyCode = QStringLiteral("请先输入一次性配对码。");
inline const QString success = QStringLiteral("配对成功，Korvan Remote 正在启动。");
inline const QString genericFailure = QStringLiteral("配对失败，请确认配对码仍然有效。");

} // namespace PairingTexts
