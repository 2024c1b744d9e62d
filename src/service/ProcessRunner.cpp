#include "ProcessRunner.h"

#include <QString>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Owns one descriptor; closes it exactly once.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

struct Pipe {
    Fd read;
    Fd write;
    int open() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return errno;
        read.reset(fds[0]);
        write.reset(fds[1]);
        ::fcntl(fds[0], F_SETPIPE_SZ, 1024 * 1024);
        return 0;
    }
};

std::vector<char*> cStrings(const std::vector<std::string>& strings) {
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (const std::string& s : strings)
        out.push_back(const_cast<char*>(s.c_str()));
    out.push_back(nullptr);
    return out;
}

void decodeWaitStatus(int raw, ProcessOutcome& outcome) {
    if (WIFSIGNALED(raw)) {
        outcome.kind = ProcessOutcome::Kind::signalled;
        outcome.status = WTERMSIG(raw);
    } else {
        outcome.kind = ProcessOutcome::Kind::exited;
        outcome.status = WEXITSTATUS(raw);
    }
}

int waitForExit(pid_t pid) {
    int raw = 0;
    while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    return raw;
}

using Clock = std::chrono::steady_clock;

int millisecondsUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

// Waits for the child to exit, but not past the deadline. A pidfd lets poll
// watch the exit; without one (old kernels) the wait is unbounded.
bool exitsBefore(pid_t pid, Clock::time_point deadline) {
    Fd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (pidfd.get() < 0)
        return true;
    for (;;) {
        pollfd pfd{pidfd.get(), POLLIN, 0};
        const int ready = ::poll(&pfd, 1, millisecondsUntil(deadline));
        if (ready > 0)
            return true;
        if (ready == 0)
            return false;
        if (errno != EINTR)
            return true;
    }
}

// Spawns the child with its standard output and error on the given write ends.
// Returns 0 or the spawn error number.
int spawn(const ProcessSpec& job, int outFd, int errFd, bool ownGroup, pid_t& pid) {
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
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (ownGroup)
        flags |= POSIX_SPAWN_SETPGROUP;
    if (rc == 0)
        rc = posix_spawnattr_setflags(&attr, flags);
    if (rc == 0)
        rc = posix_spawnattr_setsigmask(&attr, &empty);
    if (rc == 0)
        rc = posix_spawnattr_setsigdefault(&attr, &all);
    if (rc == 0 && ownGroup)
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

// Collects one stream. The buffer grows by doubling and is cut to length once
// at the end; resizing a QByteArray on every read costs more than the reads.
struct Sink {
    QByteArray* bytes;
    qsizetype used = 0;
    qsizetype populated = 0; // bytes from the start known to be backed by memory

    // Reads what is available; false at end-of-file or on an error.
    bool readFrom(int fd) {
        constexpr qsizetype minimumRoom = 64 * 1024;
        if (bytes->size() - used < minimumRoom) {
            bytes->resize(std::max<qsizetype>(2 * bytes->size(), used + minimumRoom));
            populated = std::min(populated, used); // the block may have moved
        }
        prefault();
        ssize_t got;
        do {
            got = ::read(fd, bytes->data() + used, size_t(bytes->size() - used));
        } while (got < 0 && errno == EINTR);
        if (got <= 0)
            return false;
        used += got;
        return true;
    }
    void finish() { bytes->resize(used); }

private:
    // A stream of many megabytes otherwise takes one page fault per 4 KiB as
    // the pipe copies into fresh memory, which costs more than the copying.
    // Backing the next window in one call keeps the faults in bulk, and never
    // more than one window ahead of what was actually read.
    void prefault() {
#ifdef MADV_POPULATE_WRITE
        constexpr qsizetype window = 2 * 1024 * 1024;
        if (bytes->size() < window || used + window / 2 < populated)
            return;
        const uintptr_t page = uintptr_t(::sysconf(_SC_PAGESIZE));
        const uintptr_t base = reinterpret_cast<uintptr_t>(bytes->data());
        const uintptr_t from =
            (base + uintptr_t(std::max(populated, used)) + page - 1) & ~(page - 1);
        const uintptr_t to =
            (base + uintptr_t(std::min(bytes->size(), used + window))) & ~(page - 1);
        if (to > from &&
            ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE) == 0)
            populated = qsizetype(to - base);
        else
            populated = used + window; // not supported here: do not ask again for this window
#endif
    }
};

// Reads every given descriptor until all reach end-of-file, or the deadline
// passes. Returns false on the deadline.
bool drain(Fd* fds[2], Sink sinks[2], int count, std::optional<Clock::time_point> deadline) {
    int open = count;
    while (open > 0) {
        pollfd pfds[2];
        int map[2];
        int n = 0;
        for (int i = 0; i < count; ++i) {
            if (fds[i]->get() >= 0) {
                pfds[n] = {fds[i]->get(), POLLIN, 0};
                map[n++] = i;
            }
        }
        const int timeout = deadline ? millisecondsUntil(*deadline) : -1;
        const int ready = ::poll(pfds, static_cast<nfds_t>(n), timeout);
        if (ready == 0)
            return false;
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return true; // cannot wait any more; take what has arrived
        }
        for (int k = 0; k < n; ++k) {
            if (pfds[k].revents == 0)
                continue;
            const int i = map[k];
            if (!sinks[i].readFrom(fds[i]->get())) {
                fds[i]->reset();
                --open;
            }
        }
    }
    return true;
}

} // namespace

std::vector<std::string> currentEnvironment() {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e)
        env.emplace_back(*e);
    return env;
}

QString systemErrorText(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

ProcessOutcome runProcess(const ProcessSpec& job) {
    ProcessOutcome outcome;
    Pipe out;
    Pipe err;
    int rc = out.open();
    if (rc == 0 && !job.mergeStreams)
        rc = err.open();
    if (rc != 0) {
        outcome.launchError = rc;
        return outcome;
    }

    const bool limited = job.timeLimit.has_value();
    pid_t pid = 0;
    rc = spawn(job, out.write.get(), job.mergeStreams ? out.write.get() : err.write.get(), limited,
               pid);
    // Our copies of the write ends must go, or end-of-file never comes.
    out.write.reset();
    err.write.reset();
    if (rc != 0) {
        outcome.launchError = rc;
        return outcome;
    }

    std::optional<Clock::time_point> deadline;
    if (limited)
        deadline = Clock::now() + *job.timeLimit;

    Fd* fds[2] = {&out.read, &err.read};
    Sink sinks[2] = {{&outcome.standardOutput}, {&outcome.standardError}};
    bool finished = drain(fds, sinks, job.mergeStreams ? 1 : 2, deadline);
    sinks[0].finish();
    sinks[1].finish();
    if (finished && deadline)
        finished = exitsBefore(pid, *deadline);
    if (!finished) {
        // The child and whatever it started in its group go; a descendant that
        // left the group may keep the pipe, so it is abandoned, not read.
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
        out.read.reset();
        err.read.reset();
        waitForExit(pid);
        outcome.kind = ProcessOutcome::Kind::timedOut;
        outcome.status = SIGKILL;
        return outcome;
    }
    decodeWaitStatus(waitForExit(pid), outcome);
    return outcome;
}
