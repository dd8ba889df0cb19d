#include "platform/plist_structure_check_posix.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr PlistStructureLimits kLimits{4, 100, 1000};

std::string BigEndian(uint64_t value, int size) {
  std::string bytes;
  for (int i = size - 1; i >= 0; --i) bytes += static_cast<char>(value >> 8 * i);
  return bytes;
}

// A binary plist of `objects`, the first the root, with one-byte references.
bool Fits(const std::vector<std::string>& objects, const PlistStructureLimits& limits = kLimits) {
  std::string data = "bplist00", table;
  for (const std::string& object : objects) {
    table += BigEndian(data.size(), 4);
    data += object;
  }
  return BinaryPlistFitsLimits(data + table + std::string(6, '\0') + "\x04\x01" +
                                   BigEndian(objects.size(), 8) + BigEndian(0, 8) +
                                   BigEndian(data.size(), 8),
                               limits);
}

std::string Array(const std::vector<int>& refs) {
  std::string object(1, static_cast<char>(0xa0 | refs.size()));
  for (int ref : refs) object += static_cast<char>(ref);
  return object;
}

// `length` arrays, each holding two references to the next, then `true`.
std::vector<std::string> DoublingChain(int length) {
  std::vector<std::string> objects;
  for (int i = 0; i < length; ++i) objects.push_back(Array({i + 1, i + 1}));
  objects.push_back("\x09");
  return objects;
}

TEST(BinaryPlistStructureTest, MeasuresDepthAndTheExpandedTree) {
  EXPECT_TRUE(Fits({Array({1}), Array({2}), Array({3}), Array({})}));
  EXPECT_FALSE(Fits({Array({1}), Array({2}), Array({3}), Array({4}), Array({})}));
  // Shared objects count once per reference: 2^6 - 1 values fit, 2^8 - 1 do not.
  EXPECT_TRUE(Fits(DoublingChain(5), {16, 100, 1000}));
  EXPECT_FALSE(Fits(DoublingChain(7), {16, 100, 1000}));
  const std::string text = std::string("\x5f\x11\x01\x90", 4) + std::string(400, 'x');
  EXPECT_TRUE(Fits({Array({1}), text}));
  EXPECT_FALSE(Fits({Array({1, 1, 1}), text}));
}

TEST(BinaryPlistStructureTest, RefusesInconsistentFiles) {
  EXPECT_FALSE(Fits({Array({1}), Array({0})}));  // a cycle
  EXPECT_FALSE(Fits({Array({7})}));
  // An array claiming 2^32 references through its extended count.
  EXPECT_FALSE(Fits({std::string("\xaf\x13\0\0\0\x01\0\0\0\0", 10)}));
  EXPECT_FALSE(BinaryPlistFitsLimits("bplist00" + std::string(32, '\xff'), kLimits));
}

std::string Repeat(const std::string& text, int times) {
  std::string result;
  while (times-- > 0) result += text;
  return result;
}

TEST(XmlPlistNestingTest, MeasuresArraysAndDictionaries) {
  EXPECT_TRUE(XmlPlistNestingFits(
      "<?xml version=\"1.0\"?><!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"x.dtd\">"
      "<plist><dict><key>a</key><array><dict/><array/></array></dict></plist>",
      2));
  EXPECT_FALSE(XmlPlistNestingFits("<plist><array><dict><array\n></array></dict></array>", 2));
  EXPECT_TRUE(XmlPlistNestingFits(Repeat(Repeat("<array>", 3) + Repeat("</array>", 3), 2), 3));
  EXPECT_TRUE(XmlPlistNestingFits("</array></dict><array></array>", 1));
}

TEST(XmlPlistNestingTest, ClosingTagsTheParserSkipsDoNotCount) {
  for (const char* hidden : {"<!-- </array> -->", "<?pi </array> ?>", "<!DOCTYPE x \"</array>\">"})
    EXPECT_FALSE(XmlPlistNestingFits(Repeat(std::string("<array>") + hidden, 5), 4)) << hidden;
  EXPECT_FALSE(XmlPlistNestingFits(Repeat("<array a=\"/>\">", 5), 4));  // not self-closing
  EXPECT_FALSE(XmlPlistNestingFits("<!DOCTYPE plist [<!ENTITY a \"b\">]><plist/>", 4));
}

}  // namespace
