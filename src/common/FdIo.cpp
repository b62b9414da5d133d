#include "common/FdIo.h"

#include <unistd.h>

#include <cerrno>

namespace kevra {
namespace {

// Calls step(done) until `length` bytes are through; a step returns the bytes it moved, 0 at the
// end of the file, or -1 (errno). EINTR is retried; anything else short of `length` is false.
template <typename Step>
bool whole(size_t length, Step step)
{
    size_t done = 0;
    while (done < length) {
        const ssize_t n = step(done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}   // namespace

bool readFromStart(int fd, void* data, size_t length)
{
    auto* bytes = static_cast<unsigned char*>(data);
    return whole(length, [&](size_t done) {
        return ::pread(fd, bytes + done, length - done, static_cast<off_t>(done));
    });
}

bool writeAll(int fd, const void* data, size_t length)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    return whole(length, [&](size_t done) { return ::write(fd, bytes + done, length - done); });
}

}   // namespace kevra
