#include "tools/skiff-host/frame_decoder.h"

#include "bridge/packet_frame.h"

bool FrameDecoder::Feed(const char* data, size_t size, std::vector<CommPacket>* packets) {
  if (broken_) return false;
  pending_.append(data, size);
  while (PendingBytes() >= kFrameHeaderSize) {
    const char* header = pending_.data() + consumed_;
    const uint32_t payloadLength = ReadWord(header + 8);
    // A zero length would read as a closed pipe, so it ends the stream too.
    if (payloadLength == 0 || payloadLength > kMaxPayloadLength) {
      broken_ = true;
      pending_.clear();
      consumed_ = 0;
      return false;
    }
    if (PendingBytes() < kFrameHeaderSize + payloadLength) break;
    packets->push_back(PacketFromPayload(ReadWord(header), ReadWord(header + 4),
                                         header + kFrameHeaderSize, payloadLength));
    consumed_ += kFrameHeaderSize + payloadLength;
  }
  pending_.erase(0, consumed_);
  consumed_ = 0;
  return true;
}
