#include "ProcessRunner.h"

#include "OutputSink.h"
#include "core/UniqueFd.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

// POSIX leaves declaring environ to the program; glibc declares it only
// under _GNU_SOURCE.
extern char** environ; // NOLINT(readability-redundant-declaration)

namespace {

std::vector<char*> cStrings(const std::vector<std::string>& strings) {
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (const std::string& s : strings)
        out.push_back(const_cast<char*>(s.c_str()));
    out.push_back(nullptr);
    return out;
}

// Spawns the child, leading a process group of its own, with its standard
// output and error on the given write ends. Returns 0 or the spawn error number.
int spawn(const ProcessJob& job, int outFd, int errFd, pid_t& pid) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    int rc = posix_spawn_file_actions_init(&actions);
    if (rc != 0)
        return rc;
    rc = posix_spawnattr_init(&attr);
    if (rc != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return rc;
    }

    sigset_t empty;
    sigset_t all;
    sigemptyset(&empty);
    sigfillset(&all);
    rc = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                             POSIX_SPAWN_SETPGROUP);
    if (rc == 0)
        rc = posix_spawnattr_setsigmask(&attr, &empty);
    if (rc == 0)
        rc = posix_spawnattr_setsigdefault(&attr, &all);
    if (rc == 0)
        rc = posix_spawnattr_setpgroup(&attr, 0);
    // dup2 onto 1 and 2 clears close-on-exec on the copies only.
    if (rc == 0)
        rc = posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    if (rc == 0)
        rc = posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);

    if (rc == 0) {
        std::vector<std::string> argv{job.program};
        argv.insert(argv.end(), job.arguments.begin(), job.arguments.end());
        auto argvPtrs = cStrings(argv);
        auto envPtrs = cStrings(job.environment);
        rc = posix_spawn(&pid, job.program.c_str(), &actions, &attr, argvPtrs.data(),
                         envPtrs.data());
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}

} // namespace

// One child from spawn to completion. A QObject child of its runner, so the
// runner's destruction abandons it: the destructor closes our ends and leaves
// the child alone.
class ProcessRunner::Run : public QObject {
public:
    Run(ProcessRunner* owner, ProcessJob job, Completion completion)
        : QObject(owner), owner_(owner), job_(std::move(job)), completion_(std::move(completion)) {
        sinks_[0].decode = sinks_[1].decode = job_.decodeText;
        for (int i = 0; i < 2 && job_.onOutput; ++i)
            sinks_[i].onRead = [this, i](QByteArrayView bytes) { job_.onOutput(i + 1, bytes); };
    }

    ~Run() override {
        for (int i = 0; i < 2; ++i)
            closeStream(i);
        stopWatchingExit();
        // Reap it if it is already gone; otherwise it is left running.
        if (pid_ > 0 && !reaped_)
            ::waitpid(pid_, nullptr, WNOHANG);
        removeOwnedFile();
    }

    // Returns 0 or the errno-style reason the child could not be started.
    int launch() {
        UniqueFd writeEnds[2];
        for (int i = 0; i < (job_.mergeStreams ? 1 : 2); ++i) {
            int fds[2];
            if (::pipe2(fds, O_CLOEXEC) != 0)
                return errno;
            pipes_[i].reset(fds[0]);
            writeEnds[i].reset(fds[1]);
            // Fewer, larger reads; the kernel may refuse, which costs only speed.
            ::fcntl(fds[0], F_SETPIPE_SZ, 1024 * 1024);
        }
        const int errFd = job_.mergeStreams ? writeEnds[0].get() : writeEnds[1].get();
        if (const int rc = spawn(job_, writeEnds[0].get(), errFd, pid_); rc != 0) {
            pid_ = 0;
            return rc;
        }
        // Our copies of the write ends go now, or end-of-file never comes.
        writeEnds[0].reset();
        writeEnds[1].reset();

        for (int i = 0; i < 2; ++i) {
            if (pipes_[i].get() < 0)
                continue;
            ::fcntl(pipes_[i].get(), F_SETFL, ::fcntl(pipes_[i].get(), F_GETFL) | O_NONBLOCK);
            notifiers_[i] = new QSocketNotifier(pipes_[i].get(), QSocketNotifier::Read, this);
            connect(notifiers_[i], &QSocketNotifier::activated, this, [this, i] { onReadable(i); });
        }
        if (owner_->exitWatch_ == ExitWatch::pidfd)
            pidfd_.reset(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
        if (pidfd_.get() >= 0) {
            exitNotifier_ = new QSocketNotifier(pidfd_.get(), QSocketNotifier::Read, this);
            connect(exitNotifier_, &QSocketNotifier::activated, this, [this] { onExit(); });
        } else {
            // A kernel without pidfds: look for the exit now and then instead.
            exitPoll_ = new QTimer(this);
            connect(exitPoll_, &QTimer::timeout, this, [this] { onExit(); });
            exitPoll_->start(20);
        }
        if (job_.timeLimit) {
            limit_ = new QTimer(this);
            limit_->setSingleShot(true);
            connect(limit_, &QTimer::timeout, this, [this] { endByLimit(Kind::timedOut); });
            limit_->start(*job_.timeLimit);
        }
        return 0;
    }

    // Called by the runner for a run that could not start.
    void failLaunch(int error) {
        ProcessOutcome outcome;
        outcome.launchError = error;
        deliver(std::move(outcome));
    }

    // A script's background jobs ignore SIGINT, so SIGTERM follows it. Only
    // for a run not yet delivered, whose child is not yet reaped.
    void interrupt(int signal) {
        if (pid_ > 0) {
            ::kill(-pid_, signal);
            ::kill(-pid_, SIGTERM);
            ::kill(-pid_, SIGCONT);
        }
    }

private:
    using Kind = ProcessOutcome::Kind;

    void onReadable(int i) {
        // Bounded per wake-up so that a flood never holds the event loop long.
        constexpr qsizetype budget = 1024 * 1024;
        for (qsizetype taken = 0; taken < budget && pipes_[i].get() >= 0;) {
            const qsizetype got = sinks_[i].readFrom(pipes_[i].get());
            if (got == -1)
                break;
            if (got <= 0) {
                closeStream(i);
                break;
            }
            taken += got;
            if (job_.outputLimit && sinks_[0].total + sinks_[1].total > *job_.outputLimit) {
                endByLimit(Kind::outputLimited);
                return;
            }
        }
        finishIfDone();
    }

    // Notes the exit and leaves the child a zombie: it keeps its number, and
    // its group's, from being given to anyone else until the run is delivered.
    void onExit() {
        siginfo_t info{};
        int rc;
        do {
            rc = ::waitid(P_PID, id_t(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
        } while (rc < 0 && errno == EINTR);
        if (rc == 0 && info.si_pid == 0)
            return; // not yet
        exited_ = true;
        // CLD_EXITED carries the exit code; the others, the signal's number.
        signalled_ = rc == 0 && info.si_code != CLD_EXITED;
        exitStatus_ = rc == 0 ? info.si_status : 0;
        stopWatchingExit();
        if (limit_)
            limit_->stop();
        if (!ended_ && job_.exitGrace && streamsOpen()) {
            auto* grace = new QTimer(this);
            grace->setSingleShot(true);
            connect(grace, &QTimer::timeout, this, [this] {
                closeStream(0);
                closeStream(1);
                finishIfDone();
            });
            grace->start(*job_.exitGrace);
        }
        finishIfDone();
    }

    // The child and whatever stayed in its group go; a descendant that left
    // the group may keep the pipe, so it is abandoned, not read.
    void endByLimit(Kind kind) {
        ended_ = kind;
        if (limit_)
            limit_->stop();
        ::kill(-pid_, SIGKILL);
        ::kill(pid_, SIGKILL); // in case it left its group
        closeStream(0);
        closeStream(1);
        finishIfDone();
    }

    bool streamsOpen() const { return pipes_[0].get() >= 0 || pipes_[1].get() >= 0; }

    void closeStream(int i) {
        // The notifier lets go of the descriptor before it is closed; it may
        // be the sender of the signal being handled, so it is deleted later.
        if (notifiers_[i]) {
            notifiers_[i]->setEnabled(false);
            notifiers_[i]->deleteLater();
            notifiers_[i] = nullptr;
        }
        pipes_[i].reset();
    }

    void stopWatchingExit() {
        if (exitNotifier_) {
            exitNotifier_->setEnabled(false);
            exitNotifier_->deleteLater();
            exitNotifier_ = nullptr;
        }
        if (exitPoll_)
            exitPoll_->stop();
        pidfd_.reset();
    }

    void finishIfDone() {
        if (!exited_ || streamsOpen() || delivered_)
            return;
        ::waitpid(pid_, nullptr, WNOHANG); // the zombie kept since onExit
        reaped_ = true;
        ProcessOutcome outcome;
        if (ended_) {
            outcome.kind = *ended_;
            outcome.status = SIGKILL;
        } else {
            outcome.kind = signalled_ ? Kind::signalled : Kind::exited;
            outcome.status = exitStatus_;
            if (job_.decodeText) {
                outcome.outputText = sinks_[0].takeText();
                outcome.errorText = sinks_[1].takeText();
            } else {
                outcome.standardOutput = sinks_[0].takeBytes();
                outcome.standardError = sinks_[1].takeBytes();
            }
        }
        deliver(std::move(outcome));
    }

    // The completion goes through the runner's event queue, so it is never
    // called inside start() or a notifier of ours, and is dropped with the
    // runner.
    void deliver(ProcessOutcome outcome) {
        delivered_ = true;
        removeOwnedFile();
        std::erase(owner_->runs_, this);
        QMetaObject::invokeMethod(
            owner_,
            [completion = std::move(completion_), outcome = std::move(outcome)]() mutable {
                completion(std::move(outcome));
            },
            Qt::QueuedConnection);
        deleteLater();
    }

    void removeOwnedFile() {
        if (!job_.ownedFile.empty())
            ::unlink(job_.ownedFile.c_str());
        job_.ownedFile.clear();
    }

    ProcessRunner* owner_;
    ProcessJob job_;
    Completion completion_;
    pid_t pid_ = 0;
    bool exited_ = false;
    bool signalled_ = false;
    int exitStatus_ = 0;
    bool reaped_ = false;
    bool delivered_ = false;
    std::optional<Kind> ended_;
    UniqueFd pipes_[2];
    OutputSink sinks_[2];
    QSocketNotifier* notifiers_[2] = {nullptr, nullptr};
    UniqueFd pidfd_;
    QSocketNotifier* exitNotifier_ = nullptr;
    QTimer* exitPoll_ = nullptr;
    QTimer* limit_ = nullptr;
};

ProcessRunner::ProcessRunner(ExitWatch exitWatch) : exitWatch_(exitWatch) {
    // An ignored SIGCHLD survives exec; with it the kernel reaps our children
    // itself, their statuses are lost, and every failed run would pass for a
    // success. A handler someone installed is left alone.
    struct sigaction current {};
    if (::sigaction(SIGCHLD, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
        std::signal(SIGCHLD, SIG_DFL);
}

ProcessRunner::~ProcessRunner() {
    // The runs go with our children; nothing may call back into us meanwhile.
    runs_.clear();
}

void ProcessRunner::start(ProcessJob job, Completion completion) {
    auto* run = new Run(this, std::move(job), std::move(completion));
    runs_.push_back(run);
    if (const int rc = run->launch(); rc != 0)
        run->failLaunch(rc);
}

ProcessOutcome ProcessRunner::runToEnd(ProcessJob job) {
    QEventLoop loop;
    ProcessOutcome outcome;
    start(std::move(job), [&](ProcessOutcome o) {
        outcome = std::move(o);
        loop.quit();
    });
    loop.exec();
    return outcome;
}

void ProcessRunner::interrupt(int signal) {
    for (Run* run : std::exchange(runs_, {})) {
        run->interrupt(signal);
        delete run;
    }
}

std::vector<std::string> currentEnvironment() {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e)
        env.emplace_back(*e);
    return env;
}
