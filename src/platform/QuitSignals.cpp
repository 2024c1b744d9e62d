#include "QuitSignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A handler reaches nothing but these; they have no destructor, and are
// written only before the handlers are installed.
int wakeFds[2] = {-1, -1};

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void noteSignal(int signal) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    // A full pipe drops the byte: the ones already in it end the program.
    [[maybe_unused]] const ssize_t ignored = ::write(wakeFds[1], &byte, 1);
    errno = saved;
}

void setHandler(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}

} // namespace

QuitSignals::QuitSignals(QObject* parent) : QObject(parent) {
    if (wakeFds[0] < 0 && ::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // without a pipe the signals keep their default action
    // Bytes an earlier watcher left unread were its own to act on, not ours.
    unsigned char stale = 0;
    while (::read(wakeFds[0], &stale, 1) == 1) {
    }
    notifier_ = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &QuitSignals::deliverPending);
    setHandler(noteSignal);
}

QuitSignals::~QuitSignals() {
    // A signal after this point must not find a handler writing into a pipe
    // nobody reads; the default action ends the process as it would have.
    if (notifier_)
        setHandler(SIG_DFL);
}

void QuitSignals::deliverPending() {
    if (!notifier_)
        return;
    unsigned char byte = 0;
    while (::read(wakeFds[0], &byte, 1) == 1)
        Q_EMIT received(byte);
}
