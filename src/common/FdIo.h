// Whole reads and writes on a file descriptor, retried after EINTR, for code that handles files
// through POSIX descriptors. No state; safe on any thread.
#pragma once

#include <cstddef>

namespace kevra {

// Reads exactly `length` bytes from the start of the file (pread, the file position is left
// alone); false on any error or a short read.
bool readFromStart(int fd, void* data, size_t length);

// Writes all `length` bytes at the file position; false on any error.
bool writeAll(int fd, const void* data, size_t length);

}   // namespace kevra
