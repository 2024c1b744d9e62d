#include "SignalGuard.h"

#include "service/ProcessRunner.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace cli {

namespace {

// A signal handler can reach nothing but globals; these two have no
// destructor and are written only before the handlers are installed.
int wakeFds[2] = {-1, -1};
volatile std::sig_atomic_t caught = 0;

extern "C" void noteSignal(int signal) {
    const int saved = errno;
    caught = signal;
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wakeFds[1], &byte, 1);
    errno = saved;
}

} // namespace

SignalGuard::SignalGuard(ProcessRunner& runner) : runner_(runner) {
    if (wakeFds[0] < 0 && ::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // without a pipe the signals keep their default action
    notifier_ = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [this] { act(caught); });
    struct sigaction action {};
    action.sa_handler = noteSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

SignalGuard::~SignalGuard() {
    if (caught != 0)
        act(caught);
    delete notifier_;
}

void SignalGuard::act(int signal) {
    runner_.interrupt(signal);
    std::fflush(nullptr);
    // Nothing is left to save, and static destructors must not run while the
    // application object still exists.
    ::_exit(128 + signal);
}

} // namespace cli
