// instance_probe: starts the way korvan-controller does, for the hand-over
// tests. The first instance prints "primary", then every argument list it is
// handed as one line of compact JSON, and quits once a list holds
// "--probe-quit". A later instance forwards its own arguments, prints
// "forwarded" and exits 0. Exit 1: the hand-over failed; 2: no usable socket.
#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

// JSON with every character outside printable ASCII escaped: Qt's own JSON
// reader drops a raw U+FEFF inside a string, escaped ones survive.
QByteArray jsonList(const QStringList& list) {
    QByteArray out = "[";
    for (qsizetype i = 0; i < list.size(); ++i) {
        out += i ? ",\"" : "\"";
        for (const QChar c : list[i]) {
            const char16_t u = c.unicode();
            if (u >= 0x20 && u < 0x7F && u != u'"' && u != u'\\')
                out += char(u);
            else
                out += "\\u" + QByteArray::number(u, 16).rightJustified(4, '0');
        }
        out += '"';
    }
    return out + ']';
}

void printLine(const QByteArray& line) {
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const QStringList arguments = SingleInstance::argumentsOf(argc, argv);
    QCoreApplication app(argc, argv);
    SingleInstance instance(QStringLiteral("korvan-controller"));

    // A primary that quits between our connect and our frame leaves the
    // place free; one more round then makes us primary instead.
    for (int round = 0; round < 3; ++round) {
        switch (instance.acquire()) {
        case SingleInstance::Role::primary:
            QObject::connect(&instance, &SingleInstance::argumentsReceived,
                             [](const QStringList& received) {
                                 printLine(jsonList(received));
                                 if (received.contains(QStringLiteral("--probe-quit")))
                                     QCoreApplication::quit();
                             });
            printLine("primary");
            return QCoreApplication::exec();
        case SingleInstance::Role::secondary:
            if (instance.forward(arguments)) {
                printLine("forwarded");
                return 0;
            }
            break;
        case SingleInstance::Role::unavailable:
            std::fprintf(stderr, "unavailable: %s\n", qPrintable(instance.errorString()));
            return 2;
        }
    }
    std::fprintf(stderr, "hand-over failed: %s\n", qPrintable(instance.errorString()));
    return 1;
}
