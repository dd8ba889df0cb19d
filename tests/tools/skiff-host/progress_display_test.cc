#include "tools/skiff-host/progress_display.h"

#include <sstream>

#include "gtest/gtest.h"

namespace {

CommPacket Packet(uint32_t id, const std::string& text) {
  CommPacket packet;
  packet.packetId = id;
  packet.text = text;
  return packet;
}

std::string Value(const std::string& value) { return "<data><value>" + value + "</value></data>"; }

TEST(ProgressDisplayTest, RedrawsTheBarOnOneLineAndEndsItBeforeOtherLines) {
  std::ostringstream out;
  ProgressDisplay display(out, true);
  display.ShowPacket(Packet(9, Value("10")));
  display.ShowPacket(Packet(9, Value("100")));
  display.ShowExit(0);
  const std::string text = out.str();
  const size_t second = text.find('\r', 1);
  ASSERT_EQ(text[0], '\r');
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(text.substr(0, second).find('\n'), std::string::npos);
  EXPECT_NE(text.find(" 10%"), std::string::npos);
  EXPECT_NE(text.find("[" + std::string(40, '#') + "] 100%\nresult: success\n"), std::string::npos);
}

TEST(ProgressDisplayTest, RecognisesTheFinalPackets) {
  EXPECT_TRUE(IsFinalPacket(Packet(9, Value("100"))));
  EXPECT_TRUE(IsFinalPacket(Packet(10, Value("38"))));
  EXPECT_TRUE(IsFinalPacket(Packet(10, "")));
  EXPECT_FALSE(IsFinalPacket(Packet(9, Value("90"))));
  EXPECT_FALSE(IsFinalPacket(Packet(9, Value("1000"))));
  EXPECT_FALSE(IsFinalPacket(Packet(18, Value("100"))));
  EXPECT_EQ(ValueFromText(Value("-5")), -5);
  EXPECT_EQ(ValueFromText(Value("")), std::nullopt);
  EXPECT_EQ(ValueFromText(Value("99999999999")), std::nullopt);
}

}  // namespace
