#include "bridge/pipe_channel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <string>
#include <system_error>
#include <utility>

#include "bridge/packet_frame.h"
#include "bridge/pipe_path_check.h"
#include "bridge/write_all.h"

namespace {

// Creates a FIFO at a free path or checks the one already there.
int PreparePipePath(const std::string& path) {
  if (access(path.c_str(), F_OK) == 0) return CheckPathIsSafe(path) ? 0 : kPipeUnsafePath;
  // The host may run as another user, so the FIFO must be rw for everyone;
  // the mask is process-wide, hence cleared only for this one call.
  const mode_t previousMask = umask(0);
  const int result = mkfifo(path.c_str(), 0666);
  const int error = errno;
  umask(previousMask);
  return result != 0 && error != EEXIST ? kPipeSystemError : 0;
}

// O_NOFOLLOW refuses a link planted after the check; O_CLOEXEC keeps the
// host's pipes out of the tools Skiff starts.
int OpenPipe(const std::string& path, int accessMode) {
  return open(path.c_str(), accessMode | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
}

// Asks Open to join the receive thread that closed the channel after Open
// looked, and to try again.
constexpr int kReceiverStillEnding = 1;

int OpenFailureCode(int error) { return error == ELOOP ? kPipeUnsafePath : kPipeSystemError; }

bool MakeNonBlockingCloseOnExec(int fd) {
  const int statusFlags = fcntl(fd, F_GETFL);
  const int descriptorFlags = fcntl(fd, F_GETFD);
  return statusFlags >= 0 && descriptorFlags >= 0 &&
         fcntl(fd, F_SETFL, statusFlags | O_NONBLOCK) == 0 &&
         fcntl(fd, F_SETFD, descriptorFlags | FD_CLOEXEC) == 0;
}

}  // namespace

PipeChannel::PipeChannel(PipeChannelSettings settings)
    : settings_(std::move(settings)), queue_(settings_.queueLimits) {}

PipeChannel::~PipeChannel() {
  Stop();
  if (wakeReadFd_ >= 0) close(wakeReadFd_);
  if (wakeWriteFd_ >= 0) close(wakeWriteFd_);
}

int PipeChannel::Open(uint32_t mode, const std::string& pipeName, bool waitFlag, uint32_t timeoutMs,
                      PipeNotifyCallback callback, void* context) {
  for (;;) {
    // A receive thread that closed the channel on its own may still be on its
    // way out, and its Close takes the channel lock: wait for it outside the
    // lock, so that a new thread never replaces a live one.
    if (!open_ && JoinReceiver() != kPipeStopped) return kPipeSystemError;
    const int result = OpenPipes(mode, pipeName, waitFlag, timeoutMs, callback, context);
    if (result != kReceiverStillEnding) return result;
  }
}

int PipeChannel::OpenPipes(uint32_t mode, const std::string& pipeName, bool waitFlag,
                           uint32_t timeoutMs, PipeNotifyCallback callback, void* context) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (callback != nullptr) {
    std::lock_guard<std::mutex> holdCallback(callbackLock_);
    callback_ = callback;
    context_ = context;
  }
  if (open_) return kPipeAlreadyOpen;
  if (receiver_.joinable()) return kReceiverStillEnding;
  if (!IsPlainPipeName(pipeName) || mode < kPipeModeServer || mode > kPipeModeClientAlt) {
    return kPipeBadArguments;
  }
  if (!EnsureWakePipe()) return kPipeSystemError;

  basePath_ = settings_.pipeFolder + pipeName;
  const bool server = mode == kPipeModeServer || mode == kPipeModeServerAlt;
  const std::string readPath = basePath_ + (server ? "_IN" : "_OUT");
  const std::string writePath = basePath_ + (server ? "_OUT" : "_IN");
  for (const std::string* path : {&writePath, &readPath}) {
    const int prepared = PreparePipePath(*path);
    if (prepared != 0) return prepared;
  }

  // Succeeds without a writer, which lets the host open its writing end.
  const int readFd = OpenPipe(readPath, O_RDONLY);
  if (readFd < 0) return OpenFailureCode(errno);
  if (!DescriptorIsLonePipe(readFd)) {
    close(readFd);
    return kPipeUnsafePath;
  }

  const int64_t pauseUs = std::max<int64_t>(settings_.openAttemptPause.count(), 1);
  const uint64_t attempts = waitFlag ? static_cast<uint64_t>(timeoutMs) * 1000 / pauseUs : 1;
  int writeFd = -1;
  for (uint64_t attempt = 1; writeFd < 0; ++attempt) {
    if (attempt > attempts) {
      close(readFd);
      return kPipeOpenTimedOut;
    }
    writeFd = OpenPipe(writePath, O_WRONLY);
    const int error = errno;
    // ENXIO: the host has not opened its reading end yet.
    if (writeFd < 0 && error != ENXIO) {
      close(readFd);
      return OpenFailureCode(error);
    }
    // A regular file would take our frames with nobody listening; a FIFO
    // swapped for a hard link during the wait would pass them on elsewhere.
    if (writeFd >= 0 && !DescriptorIsLonePipe(writeFd)) {
      close(writeFd);
      close(readFd);
      return kPipeUnsafePath;
    }
    std::this_thread::sleep_for(settings_.openAttemptPause);
  }

  readFd_ = readFd;
  writeFd_ = writeFd;
  open_ = true;
  queue_.Clear();
  std::signal(SIGPIPE, SIG_IGN);
  running_ = true;
  DrainWakePipe();
  receiverOwnsReadFd_ = true;
  // The read descriptor stays non-blocking: the receive thread waits in poll
  // instead, where Close can wake it.
  try {
    receiver_ = std::thread(&PipeChannel::ReceiveLoop, this, readFd, wakeReadFd_);
  } catch (const std::system_error&) {
    receiverOwnsReadFd_ = false;
    running_ = false;
    Stop();
    return kPipeSystemError;
  }
  return kPipeOpened;
}

int PipeChannel::Send(const CommPacket& packet) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (!open_) return kPipeNotOpen;
  std::string frame;
  if (!EncodeFrame(packet, &frame)) return kPipePacketTooLong;
  const int fd = writeFd_;
  if (fd < 0) return kPipeSendFailed;

  int result = WriteAll(fd, frame.data(), kFrameHeaderSize, settings_.writeAttempts,
                        settings_.writeRetryPause);
  // Nothing of the frame went out, so the stream is still whole.
  if (result == kWriteAllTimedOut) return kPipeSendTimedOut;
  if (result == kWriteAllDone) {
    result = WriteAll(fd, frame.data() + kFrameHeaderSize, frame.size() - kFrameHeaderSize,
                      settings_.writeAttempts, settings_.writeRetryPause);
  }
  if (result != kWriteAllDone) {
    ReportAndClose(kPipeSendErrorMessage);
    return kPipeSendFailed;
  }
  return kPipeSent;
}

int PipeChannel::Receive(CommPacket& packet) {
  // ReportAndClose queues its report and clears the open flag under this
  // lock, so a reader never finds the report taken and the channel still open.
  std::lock_guard<std::recursive_mutex> hold(MessageQueueLock());
  if (queue_.Pop(&packet)) return kPipeReceived;
  packet = MakeNonePacket();
  return open_ ? kPipeNothingWaiting : kPipeClosed;
}

void PipeChannel::Close() {
  // Under the channel lock, so that the write descriptor is never closed
  // (and its number reused) under a Send of another thread.
  std::lock_guard<std::recursive_mutex> hold(lock_);
  const int writeFd = writeFd_.exchange(-1);
  if (writeFd >= 0) close(writeFd);
  const int readFd = readFd_.exchange(-1);
  if (readFd >= 0 && !receiverOwnsReadFd_) close(readFd);
  open_ = false;
  if (wakeWriteFd_ >= 0) {
    const char wake = 1;
    // A full wake pipe already holds a wake-up.
    (void)!write(wakeWriteFd_, &wake, 1);
  }
}

int PipeChannel::Stop() {
  running_ = false;
  Close();
  return JoinReceiver();
}

void PipeChannel::ReportError(const std::string& message) {
  queue_.Push(MakeReportPacket(message));
  Notify();
}

void PipeChannel::ReportAndClose(const std::string& message) {
  {
    std::lock_guard<std::recursive_mutex> hold(MessageQueueLock());
    queue_.Push(MakeReportPacket(message));
    open_ = false;
  }
  Notify();
  Close();
}

int PipeChannel::JoinReceiver() {
  if (!receiver_.joinable()) return kPipeStopped;
  if (receiver_.get_id() == std::this_thread::get_id()) return kPipeStopFailed;
  try {
    receiver_.join();
  } catch (const std::system_error&) {
    return kPipeStopFailed;
  }
  return kPipeStopped;
}

bool PipeChannel::EnsureWakePipe() {
  if (wakeReadFd_ >= 0) return true;
  int fds[2];
  if (pipe(fds) != 0) return false;
  if (!MakeNonBlockingCloseOnExec(fds[0]) || !MakeNonBlockingCloseOnExec(fds[1])) {
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  wakeReadFd_ = fds[0];
  wakeWriteFd_ = fds[1];
  return true;
}

void PipeChannel::DrainWakePipe() {
  char buffer[64];
  while (read(wakeReadFd_, buffer, sizeof buffer) > 0) {
  }
}

void PipeChannel::Notify() {
  PipeNotifyCallback callback;
  void* context;
  {
    std::lock_guard<std::mutex> hold(callbackLock_);
    callback = callback_;
    context = context_;
  }
  if (callback != nullptr) callback(context);
}
