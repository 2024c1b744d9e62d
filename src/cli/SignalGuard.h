// SignalGuard: what korvanctl does on SIGINT, SIGTERM or SIGHUP. Every run of
// the given runner is ended with its process group (the script or installer
// and what it started), the installer file goes with it, and the process
// exits with 128 + the signal number.
//
// Create one on the main thread once the runner exists, for the life of the
// command. The signals come through the platform's QuitSignals; the work is
// done from the event loop, or when the guard goes out of scope if no loop
// ran since.
#pragma once

#include "platform/QuitSignals.h"

class ProcessRunner;

namespace cli {

class SignalGuard {
public:
    explicit SignalGuard(ProcessRunner& runner);
    ~SignalGuard();
    SignalGuard(const SignalGuard&) = delete;
    SignalGuard& operator=(const SignalGuard&) = delete;

private:
    ProcessRunner& runner_;
    QuitSignals signals_;
};

} // namespace cli
