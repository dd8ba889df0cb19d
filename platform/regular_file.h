// Reading files that other users may have put in Skiff's way. Every open is
// non-blocking, so a FIFO or a device at the path can never stall the caller;
// only regular files are read.
#ifndef SKIFF_PLATFORM_REGULAR_FILE_H_
#define SKIFF_PLATFORM_REGULAR_FILE_H_

#include <cstddef>
#include <string>
#include <string_view>

// Opens `path` read-only (close-on-exec) and returns the descriptor when it
// names a regular file, in blocking mode again for the reads that follow;
// -1 for anything else (missing, unreadable, FIFO, device, directory).
int OpenRegularFileForReading(const std::string& path);

// Reads the whole regular file at `path` into `contents` when it holds at
// most `maxBytes` bytes (also when it grows while being read). False, with
// `contents` untouched, when it cannot be opened as above, a read fails or
// the file is larger.
bool ReadRegularFile(const std::string& path, size_t maxBytes, std::string* contents);

// Reads at most `count` bytes from the start of the regular file at `path`
// into `head` (fewer for a shorter file) and gives its size.
bool ReadRegularFileHead(const std::string& path, size_t count, std::string* head,
                         unsigned long long* fileSize);

// Writes all of `bytes` to `fd`, going on after interruptions and short
// writes. False when a write fails or writes nothing.
bool WriteAllBytes(int fd, std::string_view bytes);

#endif  // SKIFF_PLATFORM_REGULAR_FILE_H_
