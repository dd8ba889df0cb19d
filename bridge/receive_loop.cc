// The receive thread of a PipeChannel.
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "bridge/packet_frame.h"
#include "bridge/pipe_channel.h"

namespace {

// Longest single wait in poll; a safety net in case a wake-up is missed.
constexpr int kLongestPollMs = 250;

enum class ReadStatus { kData, kEndOfFile, kError, kStopped };
enum class Step { kDone, kStopped, kClosed, kReadError };

// The thread's side of the read pipe. Its reads wait like blocking reads, but
// in poll together with the wake pipe, so that a Close or Stop of another
// thread ends every wait at once.
class PipeReader {
 public:
  PipeReader(int fd, int wakeFd, const std::atomic<bool>& running, const std::atomic<bool>& open)
      : fd_(fd), wakeFd_(wakeFd), running_(running), open_(open) {}

  bool Stopping() const { return !running_ || !open_; }

  // Sleeps for `pause`; false when the channel was closed or stopped.
  bool Pause(std::chrono::microseconds pause) const {
    const auto wholeMs = std::chrono::duration_cast<std::chrono::milliseconds>(pause);
    if (wholeMs.count() > 0) {
      pollfd wake{wakeFd_, POLLIN, 0};
      poll(&wake, 1, static_cast<int>(wholeMs.count()));
    }
    if (Stopping()) return false;
    const auto rest = pause - wholeMs;
    if (rest.count() > 0) std::this_thread::sleep_for(rest);
    return !Stopping();
  }

  // Returns once some bytes have arrived (at most `size`), the pipe has no
  // writer, reading failed, or the channel was closed or stopped.
  ReadStatus Read(char* buffer, size_t size, size_t* count) const {
    for (;;) {
      if (Stopping()) return ReadStatus::kStopped;
      const ssize_t result = read(fd_, buffer, size);
      if (result > 0) {
        *count = static_cast<size_t>(result);
        return ReadStatus::kData;
      }
      if (result == 0) return ReadStatus::kEndOfFile;
      if (errno == EINTR) continue;
      if (errno != EAGAIN) return ReadStatus::kError;
      pollfd waits[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
      poll(waits, 2, kLongestPollMs);
    }
  }

 private:
  const int fd_;
  const int wakeFd_;
  const std::atomic<bool>& running_;
  const std::atomic<bool>& open_;
};

// Reads one header into `header`. `emptyReads` counts reads that found no
// writer over the whole life of the thread.
Step ReadHeader(const PipeReader& reader, const PipeChannelSettings& settings, uint32_t& emptyReads,
                char* header) {
  for (;;) {
    if (!reader.Pause(settings.headerReadPause)) return Step::kStopped;
    size_t count = 0;
    switch (reader.Read(header, kFrameHeaderSize, &count)) {
      case ReadStatus::kStopped:
        return Step::kStopped;
      case ReadStatus::kError:
        return Step::kReadError;
      case ReadStatus::kEndOfFile:
        if (emptyReads >= settings.emptyReadAllowance) return Step::kClosed;
        ++emptyReads;
        continue;
      case ReadStatus::kData:
        if (count != kFrameHeaderSize || ReadWord(header + 8) > kMaxPayloadLength) {
          return Step::kClosed;
        }
        // The host has connected: from now on its leaving ends the channel.
        emptyReads = settings.emptyReadAllowance;
        return Step::kDone;
    }
  }
}

Step ReadPayload(const PipeReader& reader, const PipeChannelSettings& settings,
                 std::vector<char>& payload) {
  // Reading zero bytes is indistinguishable from a closed pipe.
  if (payload.empty()) return Step::kClosed;
  size_t received = 0;
  while (received < payload.size()) {
    size_t count = 0;
    switch (reader.Read(payload.data() + received, payload.size() - received, &count)) {
      case ReadStatus::kStopped:
        return Step::kStopped;
      case ReadStatus::kError:
        return Step::kReadError;
      case ReadStatus::kEndOfFile:
        return Step::kClosed;
      case ReadStatus::kData:
        received += count;
        if (received < payload.size() && !reader.Pause(settings.payloadReadPause)) {
          return Step::kStopped;
        }
        break;
    }
  }
  return Step::kDone;
}

}  // namespace

void PipeChannel::ReceiveLoop(int readFd, int wakeFd) {
  const PipeReader reader(readFd, wakeFd, running_, open_);
  uint32_t emptyReads = 0;
  Step step = Step::kStopped;
  while (!reader.Stopping()) {
    char header[kFrameHeaderSize];
    step = ReadHeader(reader, settings_, emptyReads, header);
    if (step != Step::kDone) break;
    std::vector<char> payload(ReadWord(header + 8));
    step = ReadPayload(reader, settings_, payload);
    if (step != Step::kDone) break;
    // A packet the full queue drops is gone without a word: this thread
    // never logs, and the runner needs only the terminate, which is kept.
    if (queue_.Push(PacketFromPayload(ReadWord(header), ReadWord(header + 4), payload.data(),
                                      payload.size()))) {
      Notify();
    }
  }
  // A channel closed or stopped by another thread ends without a report.
  if ((step == Step::kClosed || step == Step::kReadError) && !reader.Stopping()) {
    ReportAndClose(step == Step::kClosed ? kPipeClosedMessage : kPipeReadErrorMessage);
  }
  // Only this thread closes the descriptor it reads: closed by another
  // thread, its number could be reused by an unrelated open of the process
  // while a read here is still under way.
  close(readFd);
}
