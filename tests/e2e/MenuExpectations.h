// The menu a user should see in each state, as lines a failed comparison can
// print side by side: "label [enabled]" per row, "---" for a separator.
#pragma once

#include "TrayBusClient.h"

#include <QRegularExpression>
#include <QStringList>

namespace e2e {

struct ServiceLines {
    QString state, bridge, agent, hub, memory;
};

// A resident memory line depends on the machine; any whole number of
// megabytes from 1 up reads as "N".
inline const QString kSomeMegabytes = QStringLiteral("当前占用: 约 N MB");

inline QStringList expectedMenu(const ServiceLines& lines, bool start, bool stop, bool restart) {
    const auto row = [](const QString& label, bool enabled) -> QString {
        return label + (enabled ? QStringLiteral(" [enabled]") : QStringLiteral(" [disabled]"));
    };
    const QString separator = QStringLiteral("---");
    return {row(QStringLiteral("Korvan Remote"), false),
            row(lines.state, false),
            row(lines.bridge, false),
            row(lines.agent, false),
            row(lines.hub, false),
            row(lines.memory, false),
            separator,
            row(QStringLiteral("启动 Korvan Remote"), start),
            row(QStringLiteral("停止并释放内存"), stop),
            row(QStringLiteral("重新启动"), restart),
            separator,
            row(QStringLiteral("打开 Korvan 移动端"), true),
            row(QStringLiteral("打开本地控制台"), true),
            row(QStringLiteral("连接账号与 Mac..."), true),
            row(QStringLiteral("登录 Mac 时启动控制器"), true) + QStringLiteral(" checked"),
            separator,
            row(QStringLiteral("停止服务并退出"), true),
            row(QStringLiteral("退出控制器"), true)};
}

inline QStringList describeMenu(const QList<MenuRow>& rows) {
    static const QRegularExpression someMegabytes(QStringLiteral("^当前占用: 约 [1-9][0-9]* MB$"));
    QStringList lines;
    for (const MenuRow& row : rows) {
        if (!row.visible)
            continue;
        if (row.separator) {
            lines << QStringLiteral("---");
            continue;
        }
        QString line = someMegabytes.match(row.label).hasMatch() ? kSomeMegabytes : row.label;
        line += row.enabled ? QStringLiteral(" [enabled]") : QStringLiteral(" [disabled]");
        if (row.toggleState == 1)
            line += QStringLiteral(" checked");
        lines << line;
    }
    return lines;
}

} // namespace e2e
