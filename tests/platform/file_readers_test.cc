#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/bundle.h"
#include "platform/parsed_info_plists_posix.h"
#include "platform/plist_structure_check_posix.h"
#include "platform/property_list.h"
#include "platform/system_version.h"
#include "tests/support/scoped_temp_dir.h"

namespace {

using Types = std::vector<uint32_t>;

std::string Word(uint64_t value, int size, bool bigEndian = true) {
  std::string bytes;
  for (int i = 0; i < size; ++i)
    bytes += static_cast<char>(value >> 8 * (bigEndian ? size - 1 - i : i));
  return bytes;
}

std::string Repeat(const std::string& text, int times) {
  std::string result;
  while (times-- > 0) result += text;
  return result;
}

// A binary plist of `objects`, the first the root, with references of `refSize` bytes.
std::string Bplist(const std::vector<std::string>& objects, char refSize = 1) {
  std::string data = "bplist00", table;
  for (const std::string& object : objects) {
    table += Word(data.size(), 4);
    data += object;
  }
  return data + table + std::string(6, '\0') + '\x04' + refSize + Word(objects.size(), 8) +
         Word(0, 8) + Word(data.size(), 8);
}

std::string Array(const std::vector<int>& refs) {
  std::string object(1, static_cast<char>(0xa0 | refs.size()));
  for (int ref : refs) object += static_cast<char>(ref);
  return object;
}

// `length` arrays, each holding `refs` references to the next, then `last`:
// refs^length references to it once expanded.
std::string Chain(int length, const std::string& last, int refs = 2) {
  std::vector<std::string> objects;
  for (int i = 1; i <= length; ++i)
    objects.push_back(static_cast<char>(0xa0 | refs) + Repeat(Word(i, 2), refs));
  objects.push_back(last);
  return Bplist(objects, 2);
}

// A file at `path_` read by each reader.
class FileReadersTest : public ::testing::Test {
 protected:
  bool Read(const std::string& contents) {
    WriteFileOrDie(path_, contents);
    return ReadPropertyListFile(path_, &value_);
  }
  ScopedTempDir dir_;
  const std::string path_ = dir_.path() + "/file";
  PlistValue value_;
};

TEST_F(FileReadersTest, ReadsEveryKind) {
  ASSERT_TRUE(Read(
      "<?xml version=\"1.0\"?><!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"x.dtd\">"
      "<plist version=\"1.0\"><dict><key>s</key><string>a &amp; b</string>"
      "<key>i</key><integer>-5</integer><key>r</key><real>2.5</real><key>t</key><true/>"
      "<key>f</key><false/></dict></plist>"));
  EXPECT_EQ(value_.Find("s")->string, "a & b");
  EXPECT_EQ(value_.Find("i")->kind, PlistValue::Kind::kInteger);
  EXPECT_EQ(value_.Find("i")->number, -5);
  EXPECT_EQ(value_.Find("r")->number, 2.5);
  EXPECT_TRUE(value_.Find("t")->BoolValue());
  EXPECT_EQ(value_.Find("f")->kind, PlistValue::Kind::kBoolean);
  EXPECT_FALSE(value_.Find("f")->BoolValue());
  // Levels beyond 128 are kept as other values.
  ASSERT_TRUE(Read(Repeat("<array>", 200) + Repeat("</array>", 200)));
  const PlistValue* level = &value_;
  for (int i = 0; i < 128; ++i) level = &level->array.at(0);
  EXPECT_EQ(level->kind, PlistValue::Kind::kOther);
}

// What libplist would abort on, recurse too deep for or expand beyond memory,
// and what is no property list at all, is refused before it is parsed.
TEST_F(FileReadersTest, ReadsUpToItsLimitsAndRefusesWhatIsNotAPropertyListFile) {
  const std::string binary = Bplist({Array({1, 1, 1}), "Uentry"});  // ["entry", "entry", "entry"]
  std::string hugeCount = binary;
  hugeCount.replace(binary.size() - 24, 8, std::string(8, '\xff'));
  const std::string kTrue = "<plist><true/></plist>";
  const std::string kText = std::string("\x5f\x11\x01\x90", 4) + std::string(400, 'x');
  const std::pair<std::string, bool> kRows[] = {
      {Chain(511, "\xa0", 1), true},  // 512 arrays nested in one another
      {Chain(512, "\xa0", 1), false},
      {Repeat("<array>", 513) + Repeat("</array>", 513), false},
      {kTrue + std::string(16 * 1024 * 1024 - kTrue.size(), ' '), true},
      {kTrue + std::string(16 * 1024 * 1024 - kTrue.size() + 1, ' '), false},
      // Shared objects count once per reference: 2^21 - 1 values, or 2^18 times 400 bytes.
      {Chain(5, kText), true},
      {Chain(20, "\x09"), false},
      {Chain(18, kText), false},
      {Bplist({Array({1}), Array({0})}), false},  // a cycle
      {Bplist({Array({7})}), false},
      {Bplist({std::string("\xaf\x13\0\0\0\x01\0\0\0\0", 10)}), false},  // 2^32 references
      {"bplist00" + std::string(32, '\xff'), false},
      {"", false},
      {"<plist><array><string>open", false},
      {hugeCount, false},
      {binary.substr(0, binary.size() - 1), false},
      {binary.substr(0, binary.size() - 20), false},
      // A dictionary key {"k": true}, as ASCII and as UTF-16, and one holding a NUL.
      {Bplist({"\xd1\x01\x02", "\x51k", "\x09"}), true},
      {Bplist({"\xd1\x01\x02", std::string("\x52k\0", 3), "\x09"}), false},
      {Bplist({"\xd1\x01\x02", std::string("\x61\0k", 3), "\x09"}), true},
      {Bplist({"\xd1\x01\x02", std::string("\x62\0k\0\0", 5), "\x09"}), false},
  };
  for (const auto& [contents, read] : kRows) {
    value_.string = "untouched";
    EXPECT_EQ(Read(contents), read) << contents.size() << " " << contents.substr(0, 20);
    EXPECT_EQ(value_.string == "untouched", !read);
  }
  EXPECT_FALSE(ReadPropertyListFile(dir_.path(), &value_));
}

// Closing tags the parser skips (in comments, instructions, declarations,
// attribute values) do not count; a document type with entities is refused.
TEST(XmlPlistNestingTest, CountsArraysAndDictionariesOnTheSafeSide) {
  const std::pair<std::string, bool> kRows[] = {
      {"<plist><dict><key>a</key><array><dict/><array/></array></dict></plist>", true},
      {"<plist><array><dict><array\n></array></dict></array>", false},
      {Repeat(Repeat("<array>", 2) + Repeat("</array>", 2), 2), true},
      {"</array></dict><array></array>", true},
      {Repeat("<array><!-- </array> -->", 3), false},
      {Repeat("<array><?pi </array> ?>", 3), false},
      {Repeat("<array><!DOCTYPE x \"</array>\">", 3), false},
      {Repeat("<array a=\"/>\">", 3), false},
      {"<!DOCTYPE plist [<!ENTITY a \"b\">]><plist/>", false},
  };
  for (const auto& [text, fits] : kRows) EXPECT_EQ(XmlPlistNestingFits(text, 2), fits) << text;
}

TEST_F(FileReadersTest, TheSystemVersionComparesItsMajorVersionAndTakesAnUnknownOneAsCurrent) {
  const auto atLeast11 = [this](const std::string& value) {
    WriteFileOrDie(path_, "<plist><dict><key>ProductVersion</key>" + value + "</dict></plist>");
    return IsSystemAtLeastMacOS11(path_);
  };
  for (const char* older : {"10.15.7", "10", "9.2"})
    EXPECT_FALSE(atLeast11("<string>" + std::string(older) + "</string>")) << older;
  for (const char* current : {"11.0", "14.2.1", "110", "ten.15", ".10", ""})
    EXPECT_TRUE(atLeast11("<string>" + std::string(current) + "</string>")) << current;
  EXPECT_TRUE(atLeast11("<real>10.15</real>"));
  EXPECT_TRUE(IsSystemAtLeastMacOS11("/nonexistent/SystemVersion.plist"));
}

std::string ThinMachO(uint32_t magic, uint32_t cputype, bool bigEndian) {
  return Word(magic, 4, bigEndian) + Word(cputype, 4, bigEndian) +
         std::string(magic == 0xfeedfacf ? 24 : 20, '\0');
}

// A universal header listing `types`, without slices: where they lie, all
// zero here, is not looked at.
std::string Universal(const Types& types, bool offsets64) {
  std::string bytes = Word(offsets64 ? 0xcafebabf : 0xcafebabe, 4) + Word(types.size(), 4);
  for (uint32_t type : types) bytes += Word(type, 4) + std::string(offsets64 ? 28 : 16, '\0');
  return bytes;
}

std::string Elf(uint8_t elfClass, uint8_t data, uint16_t machine) {
  return "\x7f" + std::string("ELF") + static_cast<char>(elfClass) + static_cast<char>(data) +
         std::string(10, '\0') + Word(2, 2, data == 2) + Word(machine, 2, data == 2) +
         std::string(elfClass == 2 ? 44 : 32, '\0');
}

TEST_F(FileReadersTest, ExecutableArchitecturesAreTheTypesOfMachOAndElfHeadersAndNoneOfOthers) {
  const std::string two = Universal({0x01000007, 0x0100000c}, false);
  const std::pair<std::string, Types> kRows[] = {
      {ThinMachO(0xfeedfacf, 0x01000007, false), {0x01000007}},
      {ThinMachO(0xfeedfacf, 0x0100000c, true), {0x0100000c}},
      {ThinMachO(0xfeedface, 7, false), {7}},
      {ThinMachO(0xfeedface, 18, true), {18}},
      {two, {0x01000007, 0x0100000c}},
      {Universal({0x0100000c, 7, 0x01000007}, true), {0x0100000c, 7, 0x01000007}},
      {Universal(Types(32, 7), false), Types(32, 7)},
      {Elf(2, 1, 62), {0x01000007}},
      {Elf(2, 1, 183), {0x0100000c}},
      {Elf(1, 2, 3), {7}},
      {Elf(2, 1, 40), {}},  // 32-bit ARM
      {two.substr(0, 47), {}},
      {Universal(Types(33, 7), false), {}},
      {ThinMachO(0xfeedfacf, 7, false).substr(0, 20), {}},
      {Elf(2, 1, 62).substr(0, 40), {}},
      {Elf(3, 1, 62), {}},
      {"#!/bin/sh\n", {}},
  };
  for (const auto& [contents, types] : kRows) {
    WriteFileOrDie(path_, contents);
    EXPECT_EQ(ReadExecutableArchitectures(path_), types) << contents.size();
  }
}

// Parsed once while unchanged, read again once rewritten.
TEST_F(FileReadersTest, ABundleReadsIdentifierAndExecutableFromItsInfo) {
  const std::string path = dir_.path() + "/Tool.app";
  ParsedInfoPlists parsed;
  WriteFileOrDie(path + "/Contents/Info.plist",
                 "<plist><dict><key>CFBundleIdentifier</key><string>com.example.tool</string>"
                 "<key>CFBundleExecutable</key><string>Tool Main</string></dict></plist>");
  WriteFileOrDie(path + "/Contents/MacOS/Tool Main", ThinMachO(0xfeedfacf, 0x01000007, false));
  EXPECT_EQ(Bundle::Open(path + "/Contents/MacOS/Tool Main"), nullptr);  // a file
  const auto bundle = Bundle::Open(path + "/", nullptr, &parsed);
  ASSERT_NE(bundle, nullptr);
  EXPECT_EQ(bundle->bundleIdentifier(), "com.example.tool");
  EXPECT_EQ(bundle->executablePath(), path + "/Contents/MacOS/Tool Main");
  EXPECT_EQ(bundle->executableArchitectures(), Types{0x01000007});
  for (const char* info : {"<plist><array/></plist>", "not a plist",
                           "<plist><dict><key>CFBundleIdentifier</key><integer>3</integer>"
                           "<key>CFBundleExecutable</key><array/></dict></plist>"}) {
    WriteFileOrDie(path + "/Contents/Info.plist", info);
    const auto unusable = Bundle::Open(path, nullptr, &parsed);
    ASSERT_NE(unusable, nullptr);
    EXPECT_EQ(unusable->bundleIdentifier(), "");
    EXPECT_EQ(unusable->executablePath(), "");
  }
}

}  // namespace
