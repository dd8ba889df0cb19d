#include "tools/skiff-host/host_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <thread>
#include <vector>

#include "bridge/packet_frame.h"

extern char** environ;

const char kTerminateText[] = "terminate";

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// How often the host looks whether skiff is still there while it waits for
// the pipes.
constexpr milliseconds kPollSlice(20);
// Long enough for skiff to read the first part of a split header alone: it
// pauses 5 ms before every header read.
constexpr milliseconds kSplitHeaderPause(200);
constexpr size_t kSplitHeaderFirstPart = 6;
// The smallest payload length skiff takes for a broken stream.
constexpr uint32_t kOversizedLength = kMaxPayloadLength + 1;

std::string OwnFolder() {
  char buffer[PATH_MAX];
  const ssize_t size = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (size <= 0) return "";
  const std::string path(buffer, static_cast<size_t>(size));
  return path.substr(0, path.rfind('/') + 1);
}

void AppendWord(uint32_t word, std::string* out) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<char>(word >> shift));
}

std::string Describe(int error) { return std::strerror(error); }

}  // namespace

std::string ChooseSkiffBinary(const HostOptions& options) {
  if (!options.skiffPath.empty()) return options.skiffPath;
  const std::string folder = OwnFolder();
  if (!folder.empty() && access((folder + "skiff").c_str(), X_OK) == 0) return folder + "skiff";
  return "skiff";
}

HostSession::HostSession(const HostOptions& options, ProgressDisplay* display, std::ostream* errors)
    : options_(options),
      display_(display),
      errors_(errors),
      inPath_(options.pipeFolder + options.pipeName + "_IN"),
      outPath_(options.pipeFolder + options.pipeName + "_OUT") {}

HostSession::~HostSession() {
  CloseWriter();
  if (readFd_ >= 0) close(readFd_);
}

int HostSession::Run() {
  if (!options_.UsesPipes()) {
    if (!StartSkiff()) return kHostSetupFailure;
    return WaitForSkiff();
  }
  if (!PrepareFifo(inPath_) || !PrepareFifo(outPath_) || !StartSkiff()) return kHostSetupFailure;
  // A vanished skiff must show as a failed write, not end the host. The
  // terminal's interrupt reaches skiff too, and we stay to report how it
  // ended.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGINT, SIG_IGN);
  signal(SIGQUIT, SIG_IGN);
  if (!options_.neverConnect) {
    if (Connect()) {
      Exchange();
    } else if (SkiffHasEnded()) {
      *errors_ << "skiff-host: skiff ended before the pipes were connected\n";
    }
  }
  CloseWriter();
  if (readFd_ >= 0) close(readFd_);
  readFd_ = -1;
  const int status = WaitForSkiff();
  if (WIFSIGNALED(waitStatus_)) {
    display_->ShowSignal(WTERMSIG(waitStatus_));
  } else {
    display_->ShowExit(status);
  }
  return status;
}

bool HostSession::PrepareFifo(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    if (errno != ENOENT) {
      *errors_ << "skiff-host: cannot look at " << path << ": " << Describe(errno) << "\n";
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
      *errors_ << "skiff-host: cannot create the FIFO " << path << ": " << Describe(error) << "\n";
      return false;
    }
    if (stat(path.c_str(), &info) != 0) info.st_mode = 0;
  }
  if (!S_ISFIFO(info.st_mode)) {
    *errors_ << "skiff-host: " << path << " exists and is not a FIFO\n";
    return false;
  }
  return true;
}

bool HostSession::StartSkiff() {
  const std::string binary = ChooseSkiffBinary(options_);
  std::vector<std::string> arguments = {binary};
  arguments.insert(arguments.end(), options_.skiffArguments.begin(), options_.skiffArguments.end());
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  // skiff starts with default dispositions whatever the host ignores.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGQUIT);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  const bool searchPath = binary.find('/') == std::string::npos;
  const int result =
      searchPath ? posix_spawnp(&pid_, binary.c_str(), nullptr, &attributes, argv.data(), environ)
                 : posix_spawn(&pid_, binary.c_str(), nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (result != 0) {
    *errors_ << "skiff-host: cannot start " << binary << ": " << Describe(result) << "\n";
    pid_ = -1;
    return false;
  }
  return true;
}

bool HostSession::Connect() {
  if (options_.connectLateMs > 0 && !PauseWhileSkiffRuns(milliseconds(options_.connectLateMs)))
    return false;
  // A blocking open would wait for a writer that may never come.
  readFd_ = open(inPath_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (readFd_ < 0) {
    *errors_ << "skiff-host: cannot open " << inPath_ << ": " << Describe(errno) << "\n";
    return false;
  }
  fcntl(readFd_, F_SETFL, fcntl(readFd_, F_GETFL) & ~O_NONBLOCK);
  // skiff opens its reading end of _OUT before it looks for our reader of
  // _IN; until then a non-blocking open for writing fails with ENXIO.
  while (true) {
    writeFd_ = open(outPath_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (writeFd_ >= 0) return true;
    if (errno != ENXIO && errno != EINTR) {
      *errors_ << "skiff-host: cannot open " << outPath_ << ": " << Describe(errno) << "\n";
      return false;
    }
    if (!PauseWhileSkiffRuns(kPollSlice)) return false;
  }
}

void HostSession::Exchange() {
  Flood();
  if (options_.terminateAtOnce) {
    answered_ = true;
    SendClosingPackets();
  }
  if (options_.closeAfter == 0) CloseWriter();
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
      // Whatever skiff started may still hold its end open, so its own exit
      // ends the exchange too.
      if (SkiffHasEnded()) {
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
      *errors_ << "skiff-host: cannot read " << inPath_ << ": " << Describe(errno) << "\n";
      return;
    }
    if (count == 0 || !TakeBytes(buffer, static_cast<size_t>(count))) return;
  }
}

bool HostSession::TakeBytes(const char* data, size_t size) {
  std::vector<CommPacket> packets;
  const bool intact = decoder_.Feed(data, size, &packets);
  for (const CommPacket& packet : packets) {
    display_->ShowPacket(packet);
    ++packetsReceived_;
    if (options_.closeAfter == packetsReceived_) CloseWriter();
    if (!answered_ && IsFinalPacket(packet)) {
      answered_ = true;
      if (options_.answerLateMs > 0) {
        answerPending_ = true;
        answerAt_ = steady_clock::now() + milliseconds(options_.answerLateMs);
      } else {
        SendClosingPackets();
      }
    }
  }
  if (!intact) display_->ShowNote("skiff sent a broken frame; closing the pipes");
  return intact;
}

void HostSession::DrainWaiting() {
  fcntl(readFd_, F_SETFL, fcntl(readFd_, F_GETFL) | O_NONBLOCK);
  char buffer[65536];
  ssize_t count;
  while ((count = read(readFd_, buffer, sizeof buffer)) > 0) {
    if (!TakeBytes(buffer, static_cast<size_t>(count))) return;
  }
}

void HostSession::Flood() {
  if (options_.flood == 0) return;
  CommPacket packet;
  packet.packetId = CB_Pkt_Progress;
  packet.auxiliaryWord = kDefaultAuxiliaryWord;
  packet.text.assign(kMaxPayloadLength - 1, 'f');
  std::string frame;
  EncodeFrame(packet, &frame);
  for (uint64_t sent = 0; sent < options_.flood; ++sent) {
    if (!WriteBytes(frame.data(), frame.size())) return;
  }
}

void HostSession::SendClosingPackets() {
  for (uint32_t id : options_.sendIds) {
    CommPacket packet;
    packet.packetId = id;
    packet.auxiliaryWord = kDefaultAuxiliaryWord;
    std::string frame;
    EncodeFrame(packet, &frame);
    if (!WriteBytes(frame.data(), frame.size())) return;
  }
  std::string frame;
  if (options_.oversized) {
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
  if (options_.splitHeader) {
    if (!WriteBytes(frame.data(), kSplitHeaderFirstPart)) return;
    std::this_thread::sleep_for(kSplitHeaderPause);
    WriteBytes(frame.data() + kSplitHeaderFirstPart, frame.size() - kSplitHeaderFirstPart);
    return;
  }
  // One write: a frame this small goes into the FIFO whole, so skiff reads
  // the header in one piece.
  WriteBytes(frame.data(), frame.size());
}

bool HostSession::WriteBytes(const char* data, size_t size) {
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
      if (SkiffHasEnded()) return false;
      continue;
    }
    *errors_ << "skiff-host: cannot write " << outPath_ << ": " << Describe(errno) << "\n";
    CloseWriter();
    return false;
  }
  return true;
}

void HostSession::CloseWriter() {
  if (writeFd_ >= 0) close(writeFd_);
  writeFd_ = -1;
}

bool HostSession::SkiffHasEnded() {
  if (ended_) return true;
  if (pid_ < 0) return true;
  pid_t result;
  do {
    result = waitpid(pid_, &waitStatus_, WNOHANG);
  } while (result < 0 && errno == EINTR);
  if (result == pid_ || result < 0) ended_ = true;
  return ended_;
}

bool HostSession::PauseWhileSkiffRuns(milliseconds duration) {
  const steady_clock::time_point end = steady_clock::now() + duration;
  while (!SkiffHasEnded()) {
    const auto left = std::chrono::duration_cast<milliseconds>(end - steady_clock::now());
    if (left <= milliseconds(0)) return true;
    std::this_thread::sleep_for(std::min(left, kPollSlice));
  }
  return false;
}

int HostSession::WaitForSkiff() {
  if (!ended_ && pid_ >= 0) {
    pid_t result;
    do {
      result = waitpid(pid_, &waitStatus_, 0);
    } while (result < 0 && errno == EINTR);
    ended_ = true;
    if (result < 0) return kHostSetupFailure;
  }
  if (WIFSIGNALED(waitStatus_)) return 128 + WTERMSIG(waitStatus_);
  return WEXITSTATUS(waitStatus_);
}
