#include "bridge/packet_frame.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Bytes(std::initializer_list<int> bytes) {
  std::string out;
  for (int b : bytes) out.push_back(static_cast<char>(b));
  return out;
}

std::string Frame(const CommPacket& packet) {
  std::string frame;
  EXPECT_TRUE(EncodeFrame(packet, &frame));
  return frame;
}

TEST(ValuePacketFrame, ProgressValuesAreLittleEndianHeaderThenTextAndNul) {
  EXPECT_EQ(Frame(MakeValuePacket(CB_Pkt_Progress, 0)),
            Bytes({9, 0, 0, 0, 0xFF, 0xFF, 0, 0, 30, 0, 0, 0}) +
                std::string("<data><value>0</value></data>") + '\0');
  EXPECT_EQ(Frame(MakeValuePacket(CB_Pkt_Progress, 30)),
            Bytes({9, 0, 0, 0, 0xFF, 0xFF, 0, 0, 31, 0, 0, 0}) +
                std::string("<data><value>30</value></data>") + '\0');
  EXPECT_EQ(Frame(MakeValuePacket(CB_Pkt_Progress, 100)),
            Bytes({9, 0, 0, 0, 0xFF, 0xFF, 0, 0, 32, 0, 0, 0}) +
                std::string("<data><value>100</value></data>") + '\0');
  EXPECT_EQ(Frame(MakeValuePacket(CB_Pkt_Progress, -1)),
            Bytes({9, 0, 0, 0, 0xFF, 0xFF, 0, 0, 31, 0, 0, 0}) +
                std::string("<data><value>-1</value></data>") + '\0');
}

TEST(FrameLimit, LongestTextIsSentAndOneByteMoreIsRefused) {
  CommPacket packet = MakeReportPacket(std::string(409599, 'x'));
  std::string frame;
  ASSERT_TRUE(EncodeFrame(packet, &frame));
  EXPECT_EQ(frame.size(), 12u + 409600u);
  EXPECT_EQ(frame.substr(8, 4), Bytes({0x00, 0x40, 0x06, 0x00}));

  packet.text.push_back('x');
  frame = "untouched";
  EXPECT_FALSE(EncodeFrame(packet, &frame));
  EXPECT_EQ(frame, "untouched");
}

TEST(FrameLength, ComesFromTheTextNotFromAStaleLengthField) {
  CommPacket packet = MakeReportPacket("abc");
  packet.length = 99;
  EXPECT_EQ(Frame(packet).substr(8, 4), Bytes({4, 0, 0, 0}));
}

}  // namespace
