// What skiff-host shows that no end-to-end run looks at: the bar on a
// terminal, packets of other ids, and which packets are final.
#include "tools/skiff-host/progress_display.h"

#include <sstream>

#include "gtest/gtest.h"

namespace {

CommPacket Packet(uint32_t id, const std::string& value) {
  CommPacket packet;
  packet.packetId = id;
  packet.text = "<data><value>" + value + "</value></data>";
  return packet;
}

TEST(ProgressDisplayTest, RedrawsTheBarOnOneLineAndEndsItBeforeOtherLines) {
  std::ostringstream out;
  ProgressDisplay display(out, true);
  display.ShowPacket(Packet(9, "10"));
  display.ShowPacket(Packet(9, "100"));
  display.ShowPacket(Packet(18, "x"));
  display.ShowExit(0);
  EXPECT_EQ(out.str(), "\r[####" + std::string(36, ' ') + "]  10%\r[" + std::string(40, '#') +
                           "] 100%\npacket 18: <data><value>x</value></data>\nresult: success\n");
}

TEST(ProgressDisplayTest, OnlyProgress100AndErrorPacketsAreFinal) {
  const std::pair<CommPacket, bool> rows[] = {
      {Packet(9, "100"), true}, {Packet(10, "38"), true},   {Packet(10, ""), true},
      {Packet(9, "90"), false}, {Packet(9, "1000"), false}, {Packet(18, "100"), false},
  };
  for (const auto& [packet, final] : rows) EXPECT_EQ(IsFinalPacket(packet), final) << packet.text;
  EXPECT_EQ(ValueFromText(Packet(9, "-5").text), -5);
  EXPECT_EQ(ValueFromText(Packet(9, "").text), std::nullopt);
  EXPECT_EQ(ValueFromText(Packet(9, "99999999999").text), std::nullopt);
}

}  // namespace
