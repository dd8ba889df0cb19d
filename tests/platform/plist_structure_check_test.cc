#include "platform/plist_structure_check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr PlistStructureLimits kLimits{4, 100, 1000};

void AppendBigEndian(std::string* data, uint64_t value, int size) {
  for (int shift = (size - 1) * 8; shift >= 0; shift -= 8)
    *data += static_cast<char>(value >> shift);
}

// A binary plist of `objects`, the first being the root, with one-byte
// references.
std::string BinaryPlist(const std::vector<std::string>& objects) {
  std::string data = "bplist00";
  std::vector<uint64_t> offsets;
  for (const std::string& object : objects) {
    offsets.push_back(data.size());
    data += object;
  }
  const uint64_t table = data.size();
  for (uint64_t offset : offsets) AppendBigEndian(&data, offset, 4);
  data += std::string(6, '\0') + '\x04' + '\x01';
  AppendBigEndian(&data, objects.size(), 8);
  AppendBigEndian(&data, 0, 8);
  AppendBigEndian(&data, table, 8);
  return data;
}

std::string Array(const std::vector<int>& refs) {
  std::string object(1, static_cast<char>(0xa0 | refs.size()));
  for (int ref : refs) object += static_cast<char>(ref);
  return object;
}

// Object i is an array holding two references to object i + 1.
std::vector<std::string> DoublingChain(int length) {
  std::vector<std::string> objects;
  for (int i = 0; i < length; ++i) objects.push_back(Array({i + 1, i + 1}));
  objects.push_back("\x09");  // true
  return objects;
}

TEST(BinaryPlistStructureTest, AcceptsTreesWithinLimits) {
  EXPECT_TRUE(BinaryPlistFitsLimits(BinaryPlist({Array({1, 2}), "\x09", "\x52hi"}), kLimits));
  EXPECT_TRUE(
      BinaryPlistFitsLimits(BinaryPlist({Array({1}), Array({2}), Array({3}), Array({})}), kLimits));
  EXPECT_TRUE(BinaryPlistFitsLimits(BinaryPlist(DoublingChain(5)), {8, 100, 1000}));
}

TEST(BinaryPlistStructureTest, RefusesNestingDeeperThanTheLimit) {
  EXPECT_FALSE(BinaryPlistFitsLimits(
      BinaryPlist({Array({1}), Array({2}), Array({3}), Array({4}), Array({})}), kLimits));
}

TEST(BinaryPlistStructureTest, CountsSharedObjectsOncePerReference) {
  // 2^7 leaves from 15 objects: small on disk, too large expanded.
  EXPECT_FALSE(BinaryPlistFitsLimits(BinaryPlist(DoublingChain(7)), {16, 100, 1000}));
  // Text of a shared string counts for each reference too.
  const std::string text = std::string("\x5f\x11\x01\x90", 4) + std::string(400, 'x');
  EXPECT_TRUE(BinaryPlistFitsLimits(BinaryPlist({Array({1}), text}), kLimits));
  EXPECT_FALSE(BinaryPlistFitsLimits(BinaryPlist({Array({1, 1, 1}), text}), kLimits));
}

TEST(BinaryPlistStructureTest, RefusesCyclesAndBadReferences) {
  EXPECT_FALSE(BinaryPlistFitsLimits(BinaryPlist({Array({1}), Array({0})}), kLimits));
  EXPECT_FALSE(BinaryPlistFitsLimits(BinaryPlist({Array({7})}), kLimits));
  // An array claiming 2^32 references through its extended count.
  EXPECT_FALSE(BinaryPlistFitsLimits(
      BinaryPlist({std::string("\xaf\x13\x00\x00\x00\x01\x00\x00\x00\x00", 10)}), kLimits));
}

TEST(BinaryPlistStructureTest, RefusesInconsistentTrailers) {
  std::string data = BinaryPlist({Array({1}), "\x09"});
  EXPECT_FALSE(BinaryPlistFitsLimits(data.substr(0, data.size() - 1), kLimits));
  std::string hugeCount = data;
  hugeCount.replace(hugeCount.size() - 24, 8, std::string(8, '\xff'));
  EXPECT_FALSE(BinaryPlistFitsLimits(hugeCount, kLimits));
  std::string hugeTable = data;
  hugeTable.replace(hugeTable.size() - 8, 8, std::string(8, '\x7f'));
  EXPECT_FALSE(BinaryPlistFitsLimits(hugeTable, kLimits));
}

std::string Repeat(const std::string& text, int times) {
  std::string result;
  for (int i = 0; i < times; ++i) result += text;
  return result;
}

TEST(XmlPlistNestingTest, MeasuresArraysAndDictionaries) {
  const std::string doctype =
      "<?xml version=\"1.0\"?><!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">";
  EXPECT_TRUE(XmlPlistNestingFits(
      doctype + "<plist><dict><key>a</key><array><dict/><array/></array></dict></plist>", 2));
  EXPECT_FALSE(XmlPlistNestingFits("<plist><array><dict><array ></array></dict></array>", 2));
  EXPECT_TRUE(XmlPlistNestingFits(
      Repeat("<array>", 3) + Repeat("</array>", 3) + Repeat("<array>", 3) + Repeat("</array>", 3),
      3));
  EXPECT_TRUE(XmlPlistNestingFits("</array></dict><array></array>", 1));
}

TEST(XmlPlistNestingTest, ClosingTagsHiddenFromTheParserDoNotCount) {
  EXPECT_FALSE(XmlPlistNestingFits(Repeat("<array><!-- </array> -->", 5), 4));
  EXPECT_FALSE(XmlPlistNestingFits(Repeat("<array><?pi </array> ?>", 5), 4));
  EXPECT_FALSE(XmlPlistNestingFits(Repeat("<array><!DOCTYPE x \"</array>\">", 5), 4));
  // A tag whose "/>" sits inside an attribute value still opens an element.
  EXPECT_FALSE(XmlPlistNestingFits(Repeat("<array a=\"/>\">", 5), 4));
  EXPECT_FALSE(XmlPlistNestingFits("<!DOCTYPE plist [<!ENTITY a \"b\">]><plist/>", 4));
}

}  // namespace
