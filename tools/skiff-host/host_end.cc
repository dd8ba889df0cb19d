#include "tools/skiff-host/host_end.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

#include "bridge/packet_frame.h"

const char kTerminateText[] = "terminate";

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// How often the host looks whether the peer is still there while it waits.
constexpr milliseconds kPollSlice(20);
// Long enough for skiff to read the first part of a split header alone: it
// pauses 5 ms before every header read.
constexpr milliseconds kSplitHeaderPause(200);
constexpr size_t kSplitHeaderFirstPart = 6;
// The smallest payload length skiff takes for a broken stream.
constexpr uint32_t kOversizedLength = kMaxPayloadLength + 1;

void AppendWord(uint32_t word, std::string* out) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<char>(word >> shift));
}

std::string Describe(int error) { return std::strerror(error); }

}  // namespace

HostEnd::HostEnd(const std::string& folder, const std::string& pipeName, HostBehaviour behaviour,
                 HostEndOwner* owner)
    : inPath_(folder + pipeName + "_IN"),
      outPath_(folder + pipeName + "_OUT"),
      behaviour_(std::move(behaviour)),
      owner_(owner),
      answered_(!behaviour_.answerFinalPacket) {}

HostEnd::~HostEnd() { Close(); }

bool HostEnd::PrepareFifos() { return PrepareFifo(inPath_) && PrepareFifo(outPath_); }

bool HostEnd::PrepareFifo(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    if (errno != ENOENT) {
      owner_->OnError("cannot look at " + path + ": " + Describe(errno));
      return false;
    }
    // Either side may be the one to create the pair, so anybody must be able
    // to open it.
    const mode_t previous = umask(0);
    const int result = mkfifo(path.c_str(), 0666);
    const int error = errno;
    umask(previous);
    if (result == 0) return true;
    if (error != EEXIST) {
      owner_->OnError("cannot create the FIFO " + path + ": " + Describe(error));
      return false;
    }
    if (stat(path.c_str(), &info) != 0) info.st_mode = 0;
  }
  if (!S_ISFIFO(info.st_mode)) {
    owner_->OnError(path + " exists and is not a FIFO");
    return false;
  }
  return true;
}

bool HostEnd::Connect() {
  if (behaviour_.connectLateMs > 0 && !PauseWhilePeerRuns(milliseconds(behaviour_.connectLateMs)))
    return false;
  // A blocking open would wait for a writer that may never come.
  readFd_ = open(inPath_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (readFd_ < 0) {
    owner_->OnError("cannot open " + inPath_ + ": " + Describe(errno));
    return false;
  }
  fcntl(readFd_, F_SETFL, fcntl(readFd_, F_GETFL) & ~O_NONBLOCK);
  // skiff opens its reading end of _OUT before it looks for our reader of
  // _IN; until then a non-blocking open for writing fails with ENXIO.
  while (true) {
    writeFd_ = open(outPath_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (writeFd_ >= 0) return true;
    if (errno != ENXIO && errno != EINTR) {
      owner_->OnError("cannot open " + outPath_ + ": " + Describe(errno));
      return false;
    }
    if (!PauseWhilePeerRuns(kPollSlice)) return false;
  }
}

void HostEnd::Exchange() {
  Flood();
  if (behaviour_.terminateAtOnce) {
    answered_ = true;
    SendClosingPackets();
  }
  if (behaviour_.closeAfter == 0) CloseWriter();
  char buffer[65536];
  while (true) {
    milliseconds timeout = kPollSlice;
    if (answerPending_) {
      const auto left = std::chrono::duration_cast<milliseconds>(answerAt_ - steady_clock::now());
      timeout = std::clamp(left, milliseconds(0), kPollSlice);
    }
    pollfd poller{readFd_, POLLIN, 0};
    const int ready = poll(&poller, 1, static_cast<int>(timeout.count()));
    if (answerPending_ && steady_clock::now() >= answerAt_) {
      answerPending_ = false;
      SendClosingPackets();
    }
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      // Whatever skiff started may still hold its end open, so the peer's
      // own end ends the exchange too.
      if (!owner_->PeerRunning()) {
        DrainWaiting();
        return;
      }
      continue;
    }
    // Linux reports no hang-up until a writer has come and gone, so a read
    // here has data or is skiff closing its end.
    const ssize_t count = read(readFd_, buffer, sizeof buffer);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (count < 0) {
      owner_->OnError("cannot read " + inPath_ + ": " + Describe(errno));
      return;
    }
    if (count == 0 || !TakeBytes(buffer, static_cast<size_t>(count))) return;
  }
}

void HostEnd::Close() {
  CloseWriter();
  if (readFd_ >= 0) close(readFd_);
  readFd_ = -1;
}

bool HostEnd::TakeBytes(const char* data, size_t size) {
  std::vector<CommPacket> packets;
  const bool intact = decoder_.Feed(data, size, &packets);
  for (const CommPacket& packet : packets) {
    owner_->OnPacket(packet);
    ++packetsReceived_;
    if (behaviour_.closeAfter == packetsReceived_) CloseWriter();
    if (!answered_ && IsFinalPacket(packet)) {
      answered_ = true;
      if (behaviour_.answerLateMs > 0) {
        answerPending_ = true;
        answerAt_ = steady_clock::now() + milliseconds(behaviour_.answerLateMs);
      } else {
        SendClosingPackets();
      }
    }
  }
  if (!intact) owner_->OnNote("skiff sent a broken frame; closing the pipes");
  return intact;
}

void HostEnd::DrainWaiting() {
  fcntl(readFd_, F_SETFL, fcntl(readFd_, F_GETFL) | O_NONBLOCK);
  char buffer[65536];
  ssize_t count;
  while ((count = read(readFd_, buffer, sizeof buffer)) > 0) {
    if (!TakeBytes(buffer, static_cast<size_t>(count))) return;
  }
}

void HostEnd::Flood() {
  if (behaviour_.flood == 0) return;
  CommPacket packet;
  packet.packetId = CB_Pkt_Progress;
  packet.auxiliaryWord = kDefaultAuxiliaryWord;
  packet.text.assign(kMaxPayloadLength - 1, 'f');
  std::string frame;
  EncodeFrame(packet, &frame);
  for (uint64_t sent = 0; sent < behaviour_.flood; ++sent) {
    if (!WriteBytes(frame.data(), frame.size())) return;
  }
}

void HostEnd::SendClosingPackets() {
  for (uint32_t id : behaviour_.sendIds) {
    CommPacket packet;
    packet.packetId = id;
    packet.auxiliaryWord = kDefaultAuxiliaryWord;
    std::string frame;
    EncodeFrame(packet, &frame);
    if (!WriteBytes(frame.data(), frame.size())) return;
  }
  std::string frame;
  if (behaviour_.oversized) {
    AppendWord(CB_Pkt_Terminate, &frame);
    AppendWord(kDefaultAuxiliaryWord, &frame);
    AppendWord(kOversizedLength, &frame);
    WriteBytes(frame.data(), frame.size());
    return;
  }
  CommPacket terminate;
  terminate.packetId = CB_Pkt_Terminate;
  terminate.auxiliaryWord = kDefaultAuxiliaryWord;
  terminate.text = kTerminateText;
  EncodeFrame(terminate, &frame);
  if (behaviour_.splitHeader) {
    if (!WriteBytes(frame.data(), kSplitHeaderFirstPart)) return;
    std::this_thread::sleep_for(kSplitHeaderPause);
    WriteBytes(frame.data() + kSplitHeaderFirstPart, frame.size() - kSplitHeaderFirstPart);
    return;
  }
  // One write: a frame this small goes into the FIFO whole, so skiff reads
  // the header in one piece.
  WriteBytes(frame.data(), frame.size());
}

bool HostEnd::WriteBytes(const char* data, size_t size) {
  if (writeFd_ < 0) return false;
  while (size > 0) {
    const ssize_t written = write(writeFd_, data, size);
    if (written > 0) {
      data += written;
      size -= static_cast<size_t>(written);
      continue;
    }
    if (written < 0 && (errno == EAGAIN || errno == EINTR)) {
      // Wait for room rather than sleep: a flood moves hundreds of megabytes.
      pollfd poller{writeFd_, POLLOUT, 0};
      poll(&poller, 1, static_cast<int>(kPollSlice.count()));
      if (!owner_->PeerRunning()) return false;
      continue;
    }
    owner_->OnError("cannot write " + outPath_ + ": " + Describe(errno));
    CloseWriter();
    return false;
  }
  return true;
}

void HostEnd::CloseWriter() {
  if (writeFd_ >= 0) close(writeFd_);
  writeFd_ = -1;
}

bool HostEnd::PauseWhilePeerRuns(milliseconds duration) {
  const steady_clock::time_point end = steady_clock::now() + duration;
  while (owner_->PeerRunning()) {
    const auto left = std::chrono::duration_cast<milliseconds>(end - steady_clock::now());
    if (left <= milliseconds(0)) return true;
    std::this_thread::sleep_for(std::min(left, kPollSlice));
  }
  return false;
}
