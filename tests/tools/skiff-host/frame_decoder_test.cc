#include "tools/skiff-host/frame_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/packet_frame.h"

namespace {

std::string Header(uint32_t id, uint32_t aux, uint32_t length) {
  std::string out;
  for (uint32_t word : {id, aux, length}) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(word >> shift));
  }
  return out;
}

TEST(FrameDecoder, HeaderAndPayloadFedByteByByte) {
  std::string frame;
  ASSERT_TRUE(EncodeFrame(MakeValuePacket(CB_Pkt_Progress, 30), &frame));
  FrameDecoder decoder;
  std::vector<CommPacket> packets;
  for (char byte : frame) {
    ASSERT_TRUE(packets.empty());
    ASSERT_TRUE(decoder.Feed(&byte, 1, &packets));
  }
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].packetId, CB_Pkt_Progress);
  EXPECT_EQ(packets[0].auxiliaryWord, 0xFFFFu);
  EXPECT_EQ(packets[0].text, "<data><value>30</value></data>");
  EXPECT_EQ(packets[0].length, 31u);
  EXPECT_EQ(decoder.PendingBytes(), 0u);
}

TEST(FrameDecoder, BackToBackFramesInOnePieceWithATailOfTheNext) {
  // The first payload's text ends at its first NUL; the second has none.
  const std::string stream = Header(4, 7, 6) + std::string("ab\0cd\0", 6) + Header(77, 0, 3) +
                             "xyz" + Header(9, 0, 5) + "ab";
  FrameDecoder decoder;
  std::vector<CommPacket> packets;
  ASSERT_TRUE(decoder.Feed(stream.data(), stream.size(), &packets));
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(packets[0].packetId, 4u);
  EXPECT_EQ(packets[0].auxiliaryWord, 7u);
  EXPECT_EQ(packets[0].text, "ab");
  EXPECT_EQ(packets[0].length, 3u);
  EXPECT_EQ(packets[1].packetId, 77u);
  EXPECT_EQ(packets[1].text, "xyz");
  EXPECT_EQ(packets[1].length, 4u);
  EXPECT_EQ(decoder.PendingBytes(), 14u);
}

TEST(FrameDecoder, LargestAnnouncedLengthIsAccepted) {
  const std::string stream = Header(9, 0, 409600) + std::string(409600, 'y');
  FrameDecoder decoder;
  std::vector<CommPacket> packets;
  ASSERT_TRUE(decoder.Feed(stream.data(), stream.size(), &packets));
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].text.size(), 409600u);
}

TEST(FrameDecoder, OversizedOrZeroLengthBreaksTheStreamForGood) {
  for (uint32_t badLength : {409601u, 0xFFFFFFFFu, 0u}) {
    SCOPED_TRACE(badLength);
    const std::string good = Header(9, 0, 2) + std::string("a\0", 2);
    const std::string stream = good + Header(9, 0, badLength);
    FrameDecoder decoder;
    std::vector<CommPacket> packets;
    EXPECT_FALSE(decoder.Feed(stream.data(), stream.size(), &packets));
    EXPECT_EQ(packets.size(), 1u);
    EXPECT_TRUE(decoder.IsBroken());
    EXPECT_FALSE(decoder.Feed(good.data(), good.size(), &packets));
    EXPECT_EQ(packets.size(), 1u);
  }
}

}  // namespace
