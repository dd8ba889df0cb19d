#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/bundle.h"
#include "tests/support/scoped_temp_dir.h"

namespace {

using Types = std::vector<uint32_t>;

std::string Word(uint64_t value, int size, bool bigEndian = true) {
  std::string bytes;
  for (int i = 0; i < size; ++i)
    bytes += static_cast<char>(value >> 8 * (bigEndian ? size - 1 - i : i));
  return bytes;
}

std::string ThinMachO(uint32_t magic, uint32_t cputype, bool bigEndian) {
  return Word(magic, 4, bigEndian) + Word(cputype, 4, bigEndian) +
         std::string(magic == 0xfeedfacf ? 24 : 20, '\0');
}

// A universal header listing `types`, each slice 16 bytes long after the table.
std::string Universal(const Types& types, bool offsets64, uint32_t claimedCount = 0) {
  const int width = offsets64 ? 8 : 4;
  std::string bytes = Word(offsets64 ? 0xcafebabf : 0xcafebabe, 4) +
                      Word(claimedCount ? claimedCount : types.size(), 4);
  const uint64_t slices = 8 + types.size() * (offsets64 ? 32 : 20);
  for (size_t i = 0; i < types.size(); ++i)
    bytes += Word(types[i], 4) + Word(3, 4) + Word(slices + 16 * i, width) + Word(16, width) +
             Word(4, 4) + (offsets64 ? Word(0, 4) : "");
  return bytes + std::string(16 * types.size(), '\0');
}

std::string Elf(uint8_t elfClass, uint8_t data, uint16_t machine) {
  return std::string(
             "\x7f"
             "ELF") +
         static_cast<char>(elfClass) + static_cast<char>(data) + std::string(10, '\0') +
         Word(2, 2, data == 2) + Word(machine, 2, data == 2) +
         std::string(elfClass == 2 ? 44 : 32, '\0');
}

Types Read(const std::string& contents) {
  ScopedTempDir dir;
  WriteFileOrDie(dir.path() + "/exe", contents);
  return ReadExecutableArchitectures(dir.path() + "/exe");
}

TEST(ExecutableArchitecturesTest, ReadsThinAndUniversalMachO) {
  EXPECT_EQ(Read(ThinMachO(0xfeedfacf, 0x01000007, false)), Types{0x01000007});
  EXPECT_EQ(Read(ThinMachO(0xfeedfacf, 0x0100000c, true)), Types{0x0100000c});
  EXPECT_EQ(Read(ThinMachO(0xfeedface, 7, false)), Types{7});
  EXPECT_EQ(Read(ThinMachO(0xfeedface, 18, true)), Types{18});
  EXPECT_EQ(Read(Universal({0x01000007, 0x0100000c}, false)), (Types{0x01000007, 0x0100000c}));
  EXPECT_EQ(Read(Universal({0x0100000c, 7, 0x01000007}, true)), (Types{0x0100000c, 7, 0x01000007}));
  EXPECT_EQ(Read(Universal(Types(32, 7), false)).size(), 32u);
  // Only the table counts: slices cut off or pointing anywhere still list.
  const std::string two = Universal({0x01000007, 0x0100000c}, false);
  EXPECT_EQ(Read(two.substr(0, 48)), (Types{0x01000007, 0x0100000c}));
  std::string wild = Universal({0x0100000c}, true);
  wild.replace(16, 8, Word(~0ull, 8));
  EXPECT_EQ(Read(wild), Types{0x0100000c});
}

TEST(ExecutableArchitecturesTest, ReadsElfMachines) {
  EXPECT_EQ(Read(Elf(2, 1, 62)), Types{0x01000007});
  EXPECT_EQ(Read(Elf(2, 1, 183)), Types{0x0100000c});
  EXPECT_EQ(Read(Elf(1, 2, 3)), Types{7});
  EXPECT_EQ(Read(Elf(2, 1, 40)), Types{});  // 32-bit ARM
}

TEST(ExecutableArchitecturesTest, GarbageAndTruncatedHeadersHaveNone) {
  const std::string two = Universal({0x01000007, 0x0100000c}, false);
  for (const std::string& bad :
       {two.substr(0, 47), Universal({7}, false, 0xffffffff), Universal({7}, false, 3),
        Universal(Types(33, 7), false), Universal({}, false),
        ThinMachO(0xfeedfacf, 7, false).substr(0, 20), Elf(2, 1, 62).substr(0, 40), Elf(3, 1, 62),
        std::string("#!/bin/sh\n"), std::string(),
        // A Java class file: the universal magic, versions 0 and 52, a constant pool.
        "\xca\xfe\xba\xbe" + Word(52, 4) + Word(0x001d0a00060f0910, 8) + std::string(1200, 'j')})
    EXPECT_EQ(Read(bad), Types{}) << bad.size();
  EXPECT_EQ(ReadExecutableArchitectures("/nonexistent/exe"), Types{});
  EXPECT_EQ(ReadExecutableArchitectures("/tmp"), Types{});
}

}  // namespace
