// UniqueFd: owns one file descriptor and closes it exactly once, on every
// path out of a scope. Where the result of close() matters (a write that
// only close reports as failed), release() the descriptor and close it there.
//
// A plain value; a thread may use its own instances.
#pragma once

#include <unistd.h>
#include <utility>

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const noexcept { return fd_; }
    bool isValid() const noexcept { return fd_ >= 0; }
    // Hands the descriptor over; this object then owns none.
    int release() noexcept { return std::exchange(fd_, -1); }
    // Closes the descriptor held, if any, and takes `fd`. Linux releases the
    // descriptor even when close() reports EINTR, so it is never retried.
    void reset(int fd = -1) noexcept {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};
