// Writing a file that must be on the disk, whole, before it is put in place.
#ifndef SKIFF_PLATFORM_DURABLE_FILE_H_
#define SKIFF_PLATFORM_DURABLE_FILE_H_

#include <cstddef>
#include <string_view>

// A buffer starting at a multiple of this can go to the disk without a copy.
constexpr size_t kDirectWriteAlignment = 4096;

// Writes all of `bytes` at the start of the empty regular file `fd` and
// flushes them, with the file's size, to the disk. Where the file system
// allows it, the whole blocks of a large buffer aligned to
// kDirectWriteAlignment go straight to the disk rather than through the page
// cache, which they would only pass through on the way to the flush. False
// when a write or the flush fails.
bool WriteDurably(int fd, std::string_view bytes);

#endif  // SKIFF_PLATFORM_DURABLE_FILE_H_
