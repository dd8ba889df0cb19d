// One end of a pair of named pipes to the installer host: opens them, cuts the
// incoming bytes into packets on a receive thread, and sends framed packets.
#ifndef SKIFF_BRIDGE_PIPE_CHANNEL_H_
#define SKIFF_BRIDGE_PIPE_CHANNEL_H_

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "bridge/comm_packet.h"
#include "bridge/packet_queue.h"
#include "bridge/pipe_channel_settings.h"

// Orientation of Open: the server reads "_IN" and writes "_OUT", the client
// the other way round. Each orientation has two equivalent values.
constexpr uint32_t kPipeModeServer = 1;
constexpr uint32_t kPipeModeServerAlt = 2;
constexpr uint32_t kPipeModeClient = 3;
constexpr uint32_t kPipeModeClientAlt = 4;

// Results of Open.
constexpr int kPipeOpened = 0;
constexpr int kPipeAlreadyOpen = 5;
constexpr int kPipeBadArguments = -7;
constexpr int kPipeSystemError = -6;
constexpr int kPipeUnsafePath = -4;
constexpr int kPipeOpenTimedOut = 4;
// Results of Send.
constexpr int kPipeSent = 0;
constexpr int kPipeNotOpen = -4;
constexpr int kPipePacketTooLong = 2;
constexpr int kPipeSendTimedOut = 3;
constexpr int kPipeSendFailed = -1;
// Results of Receive.
constexpr int kPipeReceived = 0;
constexpr int kPipeNothingWaiting = 1;
constexpr int kPipeClosed = -4;
// Results of Stop.
constexpr int kPipeStopped = 0;
constexpr int kPipeStopFailed = -3;

constexpr char kPipeClosedMessage[] = "Pipe is closed on other end or is invalid";
constexpr char kPipeReadErrorMessage[] = "Error in reading data from the pipe";
constexpr char kPipeSendErrorMessage[] = "Error in sending the data to the pipe";

// Called after every packet or error report the channel queues.
using PipeNotifyCallback = void (*)(void* context);

class PipeChannel {
 public:
  explicit PipeChannel(PipeChannelSettings settings = PipeChannelSettings());
  // Stops the receive thread and closes everything.
  ~PipeChannel();
  PipeChannel(const PipeChannel&) = delete;
  PipeChannel& operator=(const PipeChannel&) = delete;

  // Creates or checks the FIFOs pipeFolder + pipeName + "_IN"/"_OUT", opens
  // them and starts the receive thread. A name that is empty, "." or ".." or
  // holds a slash is refused (-7); so is (-4) any opened end that is not a
  // FIFO with a single link. With `waitFlag` the write pipe is tried every
  // openAttemptPause until `timeoutMs` is used up, otherwise once.
  // A non-null `callback` replaces the stored one even when the channel is
  // already open. Open and Stop belong to the thread that owns the channel.
  int Open(uint32_t mode, const std::string& pipeName, bool waitFlag, uint32_t timeoutMs,
           PipeNotifyCallback callback, void* context);
  // Sends one framed packet; may be called from any thread.
  int Send(const CommPacket& packet);
  // Never blocks. Without a waiting packet `packet` becomes the id-65535
  // placeholder.
  int Receive(CommPacket& packet);
  // Closes both descriptors and clears the open flag; the receive thread
  // notices at once and ends on its own.
  void Close();
  // Clears the running flag, closes and waits for the receive thread.
  int Stop();
  // Queues a terminate packet carrying `message` and notifies.
  void ReportError(const std::string& message);

  bool IsOpen() const { return open_; }
  bool IsRunning() const { return running_; }

 private:
  // The steps of Open that run under the channel lock.
  int OpenPipes(uint32_t mode, const std::string& pipeName, bool waitFlag, uint32_t timeoutMs,
                PipeNotifyCallback callback, void* context);
  // Waits for a receive thread that has ended or is ending.
  int JoinReceiver();
  bool EnsureWakePipe();
  void DrainWakePipe();
  void Notify();
  // ReportError and Close in one, the report becoming visible to Receive
  // together with the closed state.
  void ReportAndClose(const std::string& message);
  // The receive thread; `readFd` is its own from start to end.
  void ReceiveLoop(int readFd, int wakeFd);

  const PipeChannelSettings settings_;
  std::string basePath_;
  std::recursive_mutex lock_;
  std::thread receiver_;
  std::atomic<bool> running_{false};
  std::atomic<bool> open_{false};
  // Set while a receive thread holds the read descriptor; Close then leaves
  // closing it to that thread.
  std::atomic<bool> receiverOwnsReadFd_{false};
  std::mutex callbackLock_;
  PipeNotifyCallback callback_ = nullptr;
  void* context_ = nullptr;
  PacketQueue queue_;
  std::atomic<int> readFd_{-1};
  std::atomic<int> writeFd_{-1};
  // Close writes a byte here to wake the receive thread out of its waits.
  int wakeReadFd_ = -1;
  int wakeWriteFd_ = -1;
};

#endif  // SKIFF_BRIDGE_PIPE_CHANNEL_H_
