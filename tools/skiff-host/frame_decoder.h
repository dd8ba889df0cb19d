// Cuts a received byte stream into packets, whatever the sizes of the pieces
// it arrives in.
#ifndef SKIFF_TOOLS_SKIFF_HOST_FRAME_DECODER_H_
#define SKIFF_TOOLS_SKIFF_HOST_FRAME_DECODER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bridge/comm_packet.h"

class FrameDecoder {
 public:
  // Consumes `size` bytes and appends every packet they complete to
  // `packets`. Returns false once a header has announced a payload length of
  // 0 or above the limit: the stream is then broken for good and later bytes
  // are ignored. Packets completed before the bad header are still appended.
  bool Feed(const char* data, size_t size, std::vector<CommPacket>* packets);

  bool IsBroken() const { return broken_; }
  // Bytes received that do not yet make up a whole frame.
  size_t PendingBytes() const { return pending_.size() - consumed_; }

 private:
  std::string pending_;
  // Start of the unconsumed bytes in `pending_`, so that a burst of frames is
  // not shifted down once per packet.
  size_t consumed_ = 0;
  bool broken_ = false;
};

#endif  // SKIFF_TOOLS_SKIFF_HOST_FRAME_DECODER_H_
