// ProcessRunner: starts children with posix_spawn and follows them from the
// calling thread's event loop until their output ends and they are reaped.
//
// Create and use it on one thread that runs a Qt event loop (the main thread):
// the output pipes and a pidfd of each child are watched with QSocketNotifier,
// the limits are QTimers, and every completion is called on that thread, once,
// from the event loop (never inside `start`). Destroying the runner abandons
// every run still going: our pipe ends are closed, the child is left alone,
// and its completion is never called. Nothing of a run outlives the runner.
//
// Every descriptor it makes is close-on-exec, so concurrent runs never inherit
// each other's pipes. The child leads a process group of its own and starts
// with an empty signal mask and default dispositions, the given environment,
// the caller's working directory and standard input. An exited child is
// reaped only when its run is delivered: until then its number, and so its
// group's, cannot pass to another process, and afterwards we never signal it.
// Creating a runner gives an ignored SIGCHLD its default action back, since
// the kernel would otherwise reap the children before we learn their status.
#pragma once

#include "core/Utf8Text.h"

#include <QByteArray>
#include <QObject>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct ProcessJob {
    std::string program;                  // absolute path of the executable
    std::vector<std::string> arguments;   // argv[1..]; argv[0] is `program`
    std::vector<std::string> environment; // "NAME=value" entries, passed whole
    bool mergeStreams = false;            // one pipe for standard output and error
    bool decodeText = false;              // deliver outputText/errorText, not bytes
    // A child still running after this long is killed with its process group,
    // the pipes are abandoned and the run ends as timedOut.
    std::optional<std::chrono::milliseconds> timeLimit{};
    // Once the child has exited, end-of-file is awaited at most this long;
    // then what was read is delivered with its status and the pipes abandoned.
    std::optional<std::chrono::milliseconds> exitGrace{};
    // Both streams together past this many bytes end the run like the time
    // limit, as outputLimited.
    std::optional<qsizetype> outputLimit{};
    // A file of this run (the installer it executes): removed when the run
    // ends, is abandoned or interrupted.
    std::string ownedFile{};
    // Called with each piece of output as it is read (1 standard output, or
    // the merged stream; 2 standard error), on the runner's thread, before
    // the run ends; the outcome still holds everything.
    std::function<void(int stream, QByteArrayView bytes)> onOutput{};
};

struct ProcessOutcome {
    enum class Kind { exited, signalled, launchFailed, timedOut, outputLimited };
    Kind kind = Kind::launchFailed;
    int status = 0;      // exit code, signal number, or SIGKILL when a limit ended it
    int launchError = 0; // errno-style code for `launchFailed`
    QByteArray standardOutput;
    QByteArray standardError; // empty when mergeStreams is set
    // With decodeText, the streams checked as strict UTF-8 instead of bytes;
    // a stream holding any invalid sequence gives the empty text.
    Utf8Text outputText;
    Utf8Text errorText;
};

class ProcessRunner : public QObject {
public:
    using Completion = std::function<void(ProcessOutcome)>;

    // How a child's exit is noticed: by watching a pidfd, or by looking every
    // 20 ms (what a kernel without pidfds leaves, and what tests ask for).
    enum class ExitWatch { pidfd, polling };

    explicit ProcessRunner(ExitWatch exitWatch = ExitWatch::pidfd);
    ~ProcessRunner() override;

    // Starts the child and returns at once.
    void start(ProcessJob job, Completion completion);

    // Starts the child and runs a local event loop until it is done.
    ProcessOutcome runToEnd(ProcessJob job);

    // For a command-line front end that got a signal and exits next: sends
    // `signal`, then SIGTERM and SIGCONT (in case the group was stopped) to
    // the process group of every run not yet delivered, removes their owned
    // files and abandons the runs.
    void interrupt(int signal);

private:
    class Run;
    friend class Run;
    ExitWatch exitWatch_;
    std::vector<Run*> runs_; // each also a QObject child, so it dies with us
};

// A copy of the calling process's environment, taken now.
std::vector<std::string> currentEnvironment();
