#include "tests/support/pipe_host.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <utility>

#include "bridge/frame_decoder.h"
#include "bridge/packet_frame.h"

namespace {

void MakeFifo(const std::string& path) {
  const mode_t previous = umask(0);
  mkfifo(path.c_str(), 0666);
  umask(previous);
}

}  // namespace

int32_t ValueOf(const CommPacket& packet) { return ValueFromText(packet.text).value_or(INT32_MIN); }

PipeHost::PipeHost(std::string folder, std::string pipeName, Options options)
    : inPath_(folder + pipeName + "_IN"), outPath_(folder + pipeName + "_OUT"), options_(options) {
  MakeFifo(inPath_);
  MakeFifo(outPath_);
  thread_ = std::thread(&PipeHost::Run, this);
}

PipeHost::~PipeHost() {
  stop_ = true;
  thread_.join();
  CloseWriter();
  if (readFd_ >= 0) close(readFd_);
}

void PipeHost::Run() {
  // The client opens its reading pipe (our writing one) before it looks for
  // a reader of ours, so connect in that order and never block.
  while (!stop_ && writeFd_ < 0) {
    if (readFd_ < 0) readFd_ = open(inPath_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    writeFd_ = open(outPath_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (writeFd_ < 0) usleep(1000);
  }
  if (stop_) return;
  connected_ = true;
  for (uint32_t id : options_.sendAtOnce) Write(MakeValuePacket(id, 0));

  FrameDecoder decoder;
  bool sawWriter = false;
  char buffer[65536];
  while (!stop_) {
    pollfd poller{readFd_, POLLIN, 0};
    if (poll(&poller, 1, 10) <= 0) continue;
    const ssize_t count = read(readFd_, buffer, sizeof buffer);
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (count <= 0) {
      // Before the client's first write a FIFO without a writer reads as
      // end of file too; only a writer that has come and gone ends the run.
      if (sawWriter) break;
      usleep(1000);
      continue;
    }
    sawWriter = true;
    std::vector<CommPacket> received;
    decoder.Feed(buffer, static_cast<size_t>(count), &received);
    for (const CommPacket& packet : received) {
      size_t total;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        packets_.push_back(packet);
        total = packets_.size();
      }
      arrived_.notify_all();
      if (options_.answerFinalPacket && IsFinalPacket(packet)) Write(MakeReportPacket("terminate"));
      if (options_.closeAfterPackets != 0 && total == options_.closeAfterPackets) CloseWriter();
    }
  }
}

void PipeHost::Write(const CommPacket& packet) {
  std::string frame;
  if (writeFd_ < 0 || !EncodeFrame(packet, &frame)) return;
  // One write, so the client reads the header whole.
  (void)!write(writeFd_, frame.data(), frame.size());
}

void PipeHost::CloseWriter() {
  if (writeFd_ >= 0) close(writeFd_);
  writeFd_ = -1;
}

std::vector<CommPacket> PipeHost::WaitForPackets(size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  arrived_.wait_for(lock, timeout, [&] { return packets_.size() >= count; });
  return packets_;
}

std::vector<CommPacket> PipeHost::Packets() {
  std::lock_guard<std::mutex> lock(mutex_);
  return packets_;
}
