// ServiceControl: what the tray and the pairing window need of the services.
//
// The window and the tray hold this interface, never the concrete manager, so
// that the one real ServiceManager belongs to the program's entry point and
// tests can complete each call when they choose. Main thread only; each
// completion arrives on the main thread, exactly once, unless the object is
// destroyed first. A caller that may go first guards its completions itself.
#pragma once

#include "core/CommandResult.h"
#include "core/ServiceSnapshot.h"

#include <QString>
#include <functional>

class ServiceControl {
public:
    virtual ~ServiceControl() = default;

    // Runs the control script with `command` as its only word.
    virtual void run(const QString& command,
                     std::function<void(const CommandResult&)> completion) = 0;
    // From now on, every run other than "status" (the installer's included)
    // also hands its output to `forward` piece by piece as it arrives: stream
    // 1 standard output (the installer's one merged stream), 2 standard
    // error. An empty function forwards nothing.
    using OutputForward = std::function<void(int stream, QByteArrayView bytes)>;
    virtual void forwardOutput(OutputForward forward) = 0;
    // Runs "status" and delivers the parsed report; never fails.
    virtual void status(std::function<void(const ServiceSnapshot&)> completion) = 0;
    // True when the pairing file names both agent keys with non-blank values.
    virtual bool hasPairing() const = 0;
    // Downloads the hub's installer and runs it with the pair code. An
    // unusable address may complete before this returns.
    virtual void installAndEnroll(const QString& hubURL, const QString& pairCode,
                                  std::function<void(const QString&)> progress,
                                  std::function<void(const CommandResult&)> completion) = 0;
};
