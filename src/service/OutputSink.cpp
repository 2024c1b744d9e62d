#include "OutputSink.h"

#include <algorithm>
#include <cerrno>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// A stream of many megabytes otherwise takes one page fault per 4 KiB as the
// pipe copies into fresh memory, which costs more than the copying. Backing
// the next window of a buffer of `size` bytes, `used` of them written, in one
// call keeps the faults in bulk and never more than one window ahead of what
// was actually written. `populated` remembers how far that has gone.
void prefault(char* data, qsizetype size, qsizetype used, qsizetype& populated) {
#ifdef MADV_POPULATE_WRITE
    constexpr qsizetype window = 2 * 1024 * 1024;
    if (size < window || used + window / 2 < populated)
        return;
    const auto page = uintptr_t(::sysconf(_SC_PAGESIZE));
    const auto base = reinterpret_cast<uintptr_t>(data);
    const uintptr_t from = (base + uintptr_t(std::max(populated, used)) + page - 1) & ~(page - 1);
    const uintptr_t to = (base + uintptr_t(std::min(size, used + window))) & ~(page - 1);
    if (to > from && ::madvise(data + (from - base), to - from, MADV_POPULATE_WRITE) == 0)
        populated = qsizetype(to - base);
    else
        populated = used + window; // not supported here: do not ask again for this window
#else
    Q_UNUSED(data);
    Q_UNUSED(size);
    Q_UNUSED(used);
    Q_UNUSED(populated);
#endif
}

} // namespace

qsizetype OutputSink::readFrom(int fd) {
    constexpr qsizetype minimumRoom = 64 * 1024;
    if (bytes_.roomSize() < minimumRoom) {
        const char* before = bytes_.block();
        bytes_.room(minimumRoom);
        if (bytes_.block() != before)
            populated_ = std::min(populated_, bytes_.size()); // the block moved
    }
    // Advice only: the memory's contents stay as they are.
    prefault(const_cast<char*>(bytes_.block()), bytes_.blockSize(), bytes_.size(), populated_);
    ssize_t got;
    do {
        got = ::read(fd, bytes_.room(0), size_t(bytes_.roomSize()));
    } while (got < 0 && errno == EINTR);
    if (got < 0 && errno == EAGAIN)
        return -1;
    if (got < 0) {
        failed_ = true;
        return -2;
    }
    if (got > 0 && onRead)
        onRead(QByteArrayView(bytes_.room(0), got));
    bytes_.commit(got, decode);
    total += got;
    return got;
}

QByteArray OutputSink::takeBytes() {
    return failed_ ? QByteArray() : bytes_.takeBytes();
}

Utf8Text OutputSink::takeText() {
    return failed_ ? Utf8Text() : bytes_.takeText().value_or(Utf8Text());
}
