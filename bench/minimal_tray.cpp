// The idle benchmark's baseline: the least a Qt tray program can be. One
// application object, one tray icon with the product's icon and a small
// menu, the event loop; nothing polls and nothing is drawn on a timer.
#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    QMenu menu;
    menu.addAction(QStringLiteral("Minimal tray"))->setEnabled(false);
    menu.addSeparator();
    QObject::connect(menu.addAction(QStringLiteral("Quit")), &QAction::triggered, &app,
                     &QCoreApplication::quit);

    QSystemTrayIcon tray(QIcon(QStringLiteral(":/korvan-controller.svg")));
    tray.setToolTip(QStringLiteral("Minimal tray"));
    tray.setContextMenu(&menu);
    tray.show();
    const int status = app.exec();
    tray.setContextMenu(nullptr);
    return status;
}
