// ProcessRunner: spawns one child with posix_spawn, drains its output pipes to
// end-of-file and reaps it. Blocking: call it on a background thread only.
//
// Every descriptor it makes is close-on-exec, so concurrent runs never inherit
// each other's pipes. The child starts with an empty signal mask and default
// signal dispositions, the given environment (or the caller's), the caller's
// working directory and standard input.
#pragma once

#include <QByteArray>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

struct ProcessSpec {
    std::string program;                  // absolute path of the executable
    std::vector<std::string> arguments;   // argv[1..]; argv[0] is `program`
    std::vector<std::string> environment; // "NAME=value" entries, passed whole
    bool mergeStreams = false;            // one pipe for standard output and error
    // When set, a child still running after this long is killed with its
    // process group, the pipes are abandoned and the run ends as TimedOut.
    std::optional<std::chrono::milliseconds> timeLimit;
};

struct ProcessOutcome {
    enum class Kind { exited, signalled, launchFailed, timedOut };
    Kind kind = Kind::launchFailed;
    int status = 0;      // exit code, or signal number for `signalled`
    int launchError = 0; // errno-style code for `launchFailed`
    QByteArray standardOutput;
    QByteArray standardError; // empty when mergeStreams is set

    // The status a CommandResult reports: exit code or signal number.
    int terminationStatus() const { return status; }
};

// A copy of the calling process's environment, taken now.
std::vector<std::string> currentEnvironment();

// Runs the child to completion (or to its time limit) and returns what it did.
ProcessOutcome runProcess(const ProcessSpec& job);

// The system's description of an errno-style code, as user-facing text.
QString systemErrorText(int code);
