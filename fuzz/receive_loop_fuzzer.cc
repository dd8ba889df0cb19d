// Feeds arbitrary bytes through a FIFO to a channel's receive thread, as the
// host would write them, and then leaves the pipe. The channel must queue the
// same packets as the frame decoder cuts from the bytes, followed by the one
// report that the pipe closed: whole frames become packets, and a bad or cut
// header or a cut payload ends the stream.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bridge/comm_packet.h"
#include "bridge/pipe_channel.h"
#include "tools/skiff-host/frame_decoder.h"

namespace {

constexpr char kPipeName[] = "fuzz";
// The input is written into the pipe before the channel reads any of it, so
// it must fit the pipe's buffer.
constexpr size_t kLargestInput = 65536;
constexpr auto kLongestWait = std::chrono::seconds(10);

// A folder of this process's own for the FIFO pair, and settings without the
// product's pauses.
PipeChannelSettings FuzzSettings() {
  static std::string folder;
  if (folder.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/skiff-fuzz-pipes-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) std::abort();
    folder = pattern + "/";
    for (const char* end : {"_IN", "_OUT"}) {
      if (mkfifo((folder + kPipeName + end).c_str(), 0600) != 0) std::abort();
    }
  }
  PipeChannelSettings settings;
  settings.pipeFolder = folder;
  settings.openAttemptPause = std::chrono::microseconds(0);
  settings.headerReadPause = std::chrono::microseconds(0);
  settings.payloadReadPause = std::chrono::microseconds(0);
  settings.emptyReadAllowance = 0;
  return settings;
}

int OpenOrAbort(const std::string& path, int mode) {
  const int fd = open(path.c_str(), mode | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) std::abort();
  return fd;
}

bool Same(const CommPacket& a, const CommPacket& b) {
  return a.packetId == b.packetId && a.auxiliaryWord == b.auxiliaryWord && a.length == b.length &&
         a.text == b.text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kLargestInput) return 0;
  const PipeChannelSettings settings = FuzzSettings();
  const std::string base = settings.pipeFolder + kPipeName;

  // The host's ends: the stream is in the pipe before the channel opens. A
  // reader of our own keeps the pipe while it is written.
  const int holdIn = OpenOrAbort(base + "_IN", O_RDONLY);
  const int hostWrite = OpenOrAbort(base + "_IN", O_WRONLY);
  const int hostRead = OpenOrAbort(base + "_OUT", O_RDONLY);
  if (size > 0 && write(hostWrite, data, size) != static_cast<ssize_t>(size)) std::abort();

  std::vector<CommPacket> received;
  {
    PipeChannel channel(settings);
    if (channel.Open(kPipeModeServer, kPipeName, false, 0, nullptr, nullptr) != kPipeOpened)
      std::abort();
    close(holdIn);
    close(hostWrite);
    const auto deadline = std::chrono::steady_clock::now() + kLongestWait;
    for (;;) {
      CommPacket packet;
      const int result = channel.Receive(packet);
      if (result == kPipeReceived) {
        received.push_back(packet);
      } else if (result == kPipeClosed) {
        break;
      } else if (std::chrono::steady_clock::now() > deadline) {
        std::abort();  // the channel never noticed that the host left
      } else {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
    }
    channel.Stop();
  }
  close(hostRead);

  std::vector<CommPacket> expected;
  FrameDecoder decoder;
  decoder.Feed(reinterpret_cast<const char*>(data), size, &expected);
  expected.push_back(MakeReportPacket(kPipeClosedMessage));
  if (received.size() != expected.size()) std::abort();
  for (size_t i = 0; i < expected.size(); ++i) {
    if (!Same(received[i], expected[i])) std::abort();
  }
  return 0;
}
