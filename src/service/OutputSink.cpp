#include "OutputSink.h"

#include "core/TextRules.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
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
    const uintptr_t page = uintptr_t(::sysconf(_SC_PAGESIZE));
    const uintptr_t base = reinterpret_cast<uintptr_t>(data);
    const uintptr_t from = (base + uintptr_t(std::max(populated, used)) + page - 1) & ~(page - 1);
    const uintptr_t to = (base + uintptr_t(std::min(size, used + window))) & ~(page - 1);
    if (to > from && ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE) == 0)
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

// How much of the `size` bytes at `data` ends on a UTF-8 sequence boundary:
// a lead byte whose continuation has not arrived yet is left for later.
qsizetype completePrefix(const char* data, qsizetype size) {
    for (qsizetype back = 1; back <= std::min<qsizetype>(3, size); ++back) {
        const auto byte = static_cast<unsigned char>(data[size - back]);
        if (byte < 0x80)
            return size;
        if (byte >= 0xC0) {
            const qsizetype length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
            return back < length ? size - back : size;
        }
    }
    return size; // no lead byte near the end: the decoder judges it
}

} // namespace

qsizetype OutputSink::readFrom(int fd) {
    const qsizetype minimumRoom = decode ? 1024 * 1024 : 64 * 1024;
    if (bytes_.size() - used_ < minimumRoom) {
        bytes_.resize(std::max<qsizetype>(2 * bytes_.size(), used_ + minimumRoom));
        populated_ = std::min(populated_, used_); // the block may have moved
    }
    if (!decode)
        prefault(bytes_.data(), bytes_.size(), used_, populated_);
    ssize_t got;
    do {
        got = ::read(fd, bytes_.data() + used_, size_t(bytes_.size() - used_));
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        return errno == EAGAIN ? -1 : -2;
    if (got > 0 && onRead)
        onRead(QByteArrayView(bytes_.constData() + used_, got));
    used_ += got;
    total += got;
    if (decode)
        convert(got == 0);
    return got;
}

QByteArray OutputSink::takeBytes() {
    bytes_.resize(used_);
    return std::exchange(bytes_, QByteArray());
}

QString OutputSink::takeText() {
    convert(true);
    text_.squeeze();
    return std::exchange(text_, QString());
}

void OutputSink::convert(bool atEnd) {
    const qsizetype cut = atEnd ? used_ : completePrefix(bytes_.constData(), used_);
    // The text is grown here, by doubling, so that its fresh memory can be
    // backed in bulk like the bytes'.
    if (valid_ && text_.capacity() < text_.size() + cut) {
        const QChar* before = text_.constData();
        text_.reserve(std::max(2 * text_.capacity(), text_.size() + cut));
        if (text_.constData() != before)
            textPopulated_ = std::min(textPopulated_, 2 * text_.size());
    }
    if (valid_ && cut > 0)
        prefault(reinterpret_cast<char*>(text_.data()), 2 * text_.capacity(), 2 * text_.size(),
                 textPopulated_);
    if (valid_ && cut > 0 && !text::appendUtf8(text_, QByteArrayView(bytes_.constData(), cut))) {
        valid_ = false;
        text_.clear();
    }
    std::memmove(bytes_.data(), bytes_.constData() + cut, size_t(used_ - cut));
    used_ -= cut;
}
