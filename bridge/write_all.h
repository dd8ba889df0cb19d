// Writing a whole buffer to a non-blocking descriptor with bounded retries.
#ifndef SKIFF_BRIDGE_WRITE_ALL_H_
#define SKIFF_BRIDGE_WRITE_ALL_H_

#include <chrono>
#include <cstddef>
#include <cstdint>

constexpr int kWriteAllDone = 0;
constexpr int kWriteAllFailed = -1;
constexpr int kWriteAllTimedOut = 3;

// Writes `count` bytes of `bytes` to `fd`. Each of up to `attempts` attempts
// writes what is still missing; an attempt that leaves bytes unwritten (a short
// write or EAGAIN) is followed by `pause`. Returns kWriteAllDone once all bytes
// are out, kWriteAllFailed at once when a write returns 0 or fails otherwise,
// and kWriteAllTimedOut after the last unfinished attempt.
int WriteAll(int fd, const char* bytes, size_t count, uint32_t attempts,
             std::chrono::microseconds pause);

#endif  // SKIFF_BRIDGE_WRITE_ALL_H_
