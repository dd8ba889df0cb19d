// The places and waits of a pipe channel. The defaults are the product's; tests
// shorten them to run against FIFOs in a temporary folder.
#ifndef SKIFF_BRIDGE_PIPE_CHANNEL_SETTINGS_H_
#define SKIFF_BRIDGE_PIPE_CHANNEL_SETTINGS_H_

#include <chrono>
#include <cstdint>
#include <string>

#include "bridge/packet_queue.h"

struct PipeChannelSettings {
  // Folder of the FIFO pair, with its trailing slash.
  std::string pipeFolder = "/tmp/";
  // Pause after every attempt to open the write pipe.
  std::chrono::microseconds openAttemptPause{500000};
  // Pause before every header read of the receive thread.
  std::chrono::microseconds headerReadPause{5000};
  // Pause after a partial payload read.
  std::chrono::microseconds payloadReadPause{500};
  // Pause after a write that left bytes unwritten.
  std::chrono::microseconds writeRetryPause{10000};
  // Write attempts per header or payload before a send times out.
  uint32_t writeAttempts = 3000;
  // Reads finding no writer tolerated before the first packet.
  uint32_t emptyReadAllowance = 1000;
  // What the received-packet queue holds before it drops packets.
  PacketQueueLimits queueLimits;
};

// How long CommBridge::Init waits for the host to open its reading end.
constexpr uint32_t kConnectTimeoutMs = 60000;

#endif  // SKIFF_BRIDGE_PIPE_CHANNEL_SETTINGS_H_
