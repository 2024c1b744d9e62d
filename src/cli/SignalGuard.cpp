#include "SignalGuard.h"

#include "service/ProcessRunner.h"

#include <cstdio>
#include <unistd.h>

namespace cli {

SignalGuard::SignalGuard(ProcessRunner& runner) : runner_(runner) {
    QObject::connect(&signals_, &QuitSignals::received, &signals_, [this](int signal) {
        runner_.interrupt(signal);
        std::fflush(nullptr);
        // Nothing is left to save, and static destructors must not run while
        // the application object still exists.
        ::_exit(128 + signal);
    });
}

SignalGuard::~SignalGuard() {
    signals_.deliverPending();
}

} // namespace cli
