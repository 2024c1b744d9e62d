#include "PlatformStartGuard.h"

#include <QList>
#include <QMessageLogContext>
#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

struct HeldMessage {
    QtMsgType type;
    const char* file;
    int line;
    const char* function;
    const char* category;
    QString text;
};

QtMessageHandler previousHandler = nullptr;
QList<HeldMessage>* held = nullptr;

[[noreturn]] void exitWith(const QString& line) {
    std::fprintf(stderr, "korvan-controller: %s\n", qPrintable(line));
    std::fflush(stderr);
    // Mid-construction of the application object: no destructor may run.
    std::_Exit(1);
}

void holdOrExit(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        held->append({type, context.file, context.line, context.function, context.category, text});
        return;
    }
    // Qt names a platform plugin it could not find in a warning of its own
    // before the fatal message; every other failure here is the display.
    for (const HeldMessage& message : *held)
        if (message.text.startsWith(QLatin1String("Could not find the Qt platform plugin")))
            exitWith(message.text);
    exitWith(QStringLiteral("cannot open a display (DISPLAY and WAYLAND_DISPLAY are unset or "
                            "unreachable); on a machine without a desktop, use korvanctl"));
}

} // namespace

PlatformStartGuard::PlatformStartGuard() {
    held = new QList<HeldMessage>;
    previousHandler = qInstallMessageHandler(holdOrExit);
}

PlatformStartGuard::~PlatformStartGuard() {
    qInstallMessageHandler(previousHandler);
    QList<HeldMessage>* messages = std::exchange(held, nullptr);
    for (const HeldMessage& m : *messages) {
        const QMessageLogContext context(m.file, m.line, m.function, m.category);
        if (previousHandler)
            previousHandler(m.type, context, m.text);
        else
            qt_message_output(m.type, context, m.text);
    }
    delete messages;
}
