// The host's frame decoder, one stream a row, fed byte by byte and in one piece.
#include "tools/skiff-host/frame_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

std::string Header(uint32_t id, uint32_t aux, uint32_t length) {
  std::string out;
  for (uint32_t word : {id, aux, length}) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(word >> shift));
  }
  return out;
}

struct DecoderRow {
  const char* name;
  std::string stream;
  Lines packets;   // "id aux length text"; the text ends at the payload's first NUL
  size_t pending;  // bytes of an unfinished frame
  bool broken;     // for good, by a bad length
};

const std::string kGood = Header(9, 0, 2) + std::string("a\0", 2);
const std::string kBig(409600, 'y');
// Two frames, the first's payload holding a NUL inside, and the start of a third.
const std::string kBackToBack =
    Header(4, 7, 6) + std::string("ab\0cd\0", 6) + Header(77, 0, 3) + "xyz" + Header(9, 0, 5) + "a";
const DecoderRow kRows[] = {
    {"AuxiliaryWord", Header(9, 0xFFFF, 3) + std::string("30\0", 3), {"9 65535 3 30"}, 0, false},
    {"BackToBackWithEmbeddedNul", kBackToBack, {"4 7 3 ab", "77 0 4 xyz"}, 13, false},
    {"LargestLength", Header(9, 0, 409600) + kBig, {"9 0 409601 " + kBig}, 0, false},
    {"OversizedLength", kGood + Header(9, 0, 409601), {"9 0 2 a"}, 0, true},
    {"ZeroLength", kGood + Header(9, 0, 0), {"9 0 2 a"}, 0, true},
};

TEST(FrameDecoderTest, CutsStreamsIntoPacketsAndStaysBrokenAfterABadLength) {
  for (const DecoderRow& row : kRows) {
    for (const size_t piece : {size_t{1}, row.stream.size()}) {
      FrameDecoder decoder;
      std::vector<CommPacket> packets;
      bool intact = true;
      for (size_t at = 0; at < row.stream.size(); at += piece) {
        const size_t size = std::min(piece, row.stream.size() - at);
        intact = decoder.Feed(row.stream.data() + at, size, &packets) && intact;
      }
      EXPECT_EQ(intact, !row.broken) << row.name;
      EXPECT_EQ(decoder.PendingBytes(), row.pending) << row.name;
      Lines shown;
      for (const CommPacket& p : packets) {
        shown.push_back(std::to_string(p.packetId) + " " + std::to_string(p.auxiliaryWord) + " " +
                        std::to_string(p.length) + " " + p.text);
      }
      EXPECT_EQ(shown, row.packets) << row.name << " in pieces of " << piece;
      // A good frame after them is still taken, or refused for good.
      EXPECT_EQ(decoder.Feed(kGood.data(), kGood.size(), &packets), !row.broken) << row.name;
    }
  }
}

}  // namespace
