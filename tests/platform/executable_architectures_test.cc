#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/bundle.h"
#include "tests/support/scoped_temp_dir.h"

namespace {

using Types = std::vector<uint32_t>;

std::string Word(uint64_t value, int size, bool bigEndian) {
  std::string bytes;
  for (int i = 0; i < size; ++i) {
    const int shift = bigEndian ? (size - 1 - i) * 8 : i * 8;
    bytes += static_cast<char>(value >> shift);
  }
  return bytes;
}

// A thin Mach-O header: magic, cputype, then zeros up to the header size.
std::string ThinMachO(uint32_t magic, uint32_t cputype, bool bigEndian) {
  const size_t headerSize = (magic == 0xfeedfacf) ? 32 : 28;
  std::string bytes = Word(magic, 4, bigEndian) + Word(cputype, 4, bigEndian);
  return bytes + std::string(headerSize - bytes.size(), '\0');
}

// A universal header listing `types`, each slice 16 bytes long after the table.
std::string Universal(const Types& types, bool offsets64, uint32_t claimedCount = 0) {
  const int width = offsets64 ? 8 : 4;
  std::string bytes = Word(offsets64 ? 0xcafebabf : 0xcafebabe, 4, true) +
                      Word(claimedCount ? claimedCount : types.size(), 4, true);
  const uint64_t slicesStart = 8 + types.size() * (offsets64 ? 32 : 20);
  for (size_t i = 0; i < types.size(); ++i) {
    bytes += Word(types[i], 4, true) + Word(3, 4, true) + Word(slicesStart + 16 * i, width, true) +
             Word(16, width, true) + Word(4, 4, true) + (offsets64 ? Word(0, 4, true) : "");
  }
  return bytes + std::string(16 * types.size(), '\0');
}

std::string Elf(uint8_t elfClass, uint8_t data, uint16_t machine) {
  std::string bytes = std::string(
                          "\x7f"
                          "ELF") +
                      static_cast<char>(elfClass) + static_cast<char>(data) + std::string(10, '\0');
  bytes += Word(2, 2, data == 2) + Word(machine, 2, data == 2);
  return bytes + std::string((elfClass == 2 ? 64 : 52) - bytes.size(), '\0');
}

class ExecutableArchitecturesTest : public ::testing::Test {
 protected:
  Types Read(const std::string& contents) {
    WriteFileOrDie(dir_.path() + "/exe", contents);
    return ReadExecutableArchitectures(dir_.path() + "/exe");
  }
  ScopedTempDir dir_;
};

TEST_F(ExecutableArchitecturesTest, ThinMachOInEitherByteOrder) {
  EXPECT_EQ(Read(ThinMachO(0xfeedfacf, 0x01000007, false)), Types{0x01000007});
  EXPECT_EQ(Read(ThinMachO(0xfeedfacf, 0x0100000c, true)), Types{0x0100000c});
  EXPECT_EQ(Read(ThinMachO(0xfeedface, 7, false)), Types{7});
  EXPECT_EQ(Read(ThinMachO(0xfeedface, 18, true)), Types{18});
  EXPECT_EQ(Read(ThinMachO(0xfeedfacf, 0x01000007, false).substr(0, 20)), Types{});
}

TEST_F(ExecutableArchitecturesTest, UniversalListsSlicesInOrder) {
  EXPECT_EQ(Read(Universal({0x01000007, 0x0100000c}, false)), (Types{0x01000007, 0x0100000c}));
  EXPECT_EQ(Read(Universal({0x0100000c, 7, 0x01000007}, true)), (Types{0x0100000c, 7, 0x01000007}));
}

TEST_F(ExecutableArchitecturesTest, RefusesDamagedUniversalHeaders) {
  const std::string two = Universal({0x01000007, 0x0100000c}, false);
  EXPECT_EQ(Read(two.substr(0, 30)), Types{});              // second entry cut off
  EXPECT_EQ(Read(two.substr(0, two.size() - 1)), Types{});  // last slice cut short
  EXPECT_EQ(Read(Universal({0x01000007}, false, 0xffffffff)), Types{});
  EXPECT_EQ(Read(Universal({}, false)), Types{});
  EXPECT_EQ(Read(Universal(Types(65, 0x01000007), false)), Types{});
  EXPECT_EQ(Read(Universal(Types(64, 0x01000007), false)).size(), 64u);
  // A Java class file: the same magic, then versions 0 and 52 and a constant pool.
  EXPECT_EQ(Read("\xca\xfe\xba\xbe" + std::string("\x00\x00\x00\x34", 4) +
                 std::string("\x00\x1d\x0a\x00\x06\x00\x0f\x09\x00\x10\x00\x11\x08", 13) +
                 std::string(1200, 'j')),
            Types{});
}

TEST_F(ExecutableArchitecturesTest, ElfMachinesMapToPlatformNumbers) {
  EXPECT_EQ(Read(Elf(2, 1, 62)), Types{0x01000007});
  EXPECT_EQ(Read(Elf(2, 1, 183)), Types{0x0100000c});
  EXPECT_EQ(Read(Elf(1, 2, 3)), Types{7});
  EXPECT_EQ(Read(Elf(2, 1, 40)), Types{});  // 32-bit ARM
  EXPECT_EQ(Read(Elf(2, 1, 62).substr(0, 40)), Types{});
  EXPECT_EQ(Read(Elf(3, 1, 62)), Types{});
}

TEST_F(ExecutableArchitecturesTest, AnythingElseHasNoArchitectures) {
  EXPECT_EQ(Read("#!/bin/sh\necho hello\n"), Types{});
  EXPECT_EQ(Read(""), Types{});
  EXPECT_EQ(ReadExecutableArchitectures(dir_.path() + "/absent"), Types{});
  EXPECT_EQ(ReadExecutableArchitectures(dir_.path()), Types{});
}

}  // namespace
