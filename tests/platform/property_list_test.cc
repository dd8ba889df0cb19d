#include "platform/property_list.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdlib>
#include <string>

#include "tests/support/scoped_temp_dir.h"

namespace {

// The binary form of `root`, which is freed.
std::string Binary(plist_t root) {
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(root, &bytes, &length);
  std::string data(bytes, length);
  free(bytes);
  plist_free(root);
  return data;
}

// `levels` arrays nested in one another.
plist_t NestedArrays(int levels) {
  plist_t root = plist_new_array();
  for (plist_t inner = root; --levels > 0;) {
    plist_t next = plist_new_array();
    plist_array_append_item(inner, next);
    inner = next;
  }
  return root;
}

class PropertyListTest : public ::testing::Test {
 protected:
  bool Read(const std::string& contents) {
    WriteFileOrDie(dir_.path() + "/p.plist", contents);
    return ReadPropertyListFile(dir_.path() + "/p.plist", &value_);
  }
  ScopedTempDir dir_;
  PlistValue value_;
};

TEST_F(PropertyListTest, ReadsEveryKindInBothFormats) {
  const std::string xml =
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>s</key><string>a &amp; b</string>"
      "<key>i</key><integer>-5</integer><key>r</key><real>2.5</real><key>t</key><true/>"
      "<key>f</key><false/><key>a</key><array><string>x</string><dict/></array>"
      "<key>d</key><data>AAEC</data><key>when</key><date>2020-01-01T00:00:00Z</date></dict></"
      "plist>";
  plist_t parsed = nullptr;
  plist_from_xml(xml.data(), xml.size(), &parsed);
  for (const std::string& file : {xml, Binary(parsed)}) {
    ASSERT_TRUE(Read(file));
    EXPECT_EQ(value_.Find("s")->string, "a & b");
    EXPECT_EQ(value_.Find("i")->kind, PlistValue::Kind::kInteger);
    EXPECT_EQ(value_.Find("i")->number, -5);
    EXPECT_EQ(value_.Find("r")->number, 2.5);
    EXPECT_TRUE(value_.Find("t")->BoolValue());
    EXPECT_EQ(value_.Find("f")->kind, PlistValue::Kind::kBoolean);
    EXPECT_FALSE(value_.Find("f")->BoolValue());
    EXPECT_EQ(value_.Find("a")->array.at(1).kind, PlistValue::Kind::kDictionary);
    EXPECT_EQ(value_.Find("d")->kind, PlistValue::Kind::kOther);
    EXPECT_EQ(value_.Find("when")->kind, PlistValue::Kind::kOther);
    EXPECT_EQ(value_.Find("a")->Find("x"), nullptr);
  }
}

TEST_F(PropertyListTest, RefusesWhatIsNotAPropertyListFile) {
  value_.string = "untouched";
  plist_t list = NestedArrays(1);
  for (int i = 0; i < 3; ++i) plist_array_append_item(list, plist_new_string("entry"));
  const std::string binary = Binary(list);
  std::string hugeCount = binary;
  hugeCount.replace(binary.size() - 24, 8, std::string(8, '\xff'));
  // A dictionary key holding a NUL, which libplist would abort on: as ASCII
  // and, for a key with a non-ASCII character, as UTF-16.
  const auto nulKey = [](const std::string& key, const std::string& stored) {
    plist_t info = plist_new_dict();
    plist_dict_set_item(info, key.c_str(), plist_new_string("23.0"));
    std::string file = Binary(info);
    return file.replace(file.find(stored), stored.size(),
                        stored.substr(0, stored.size() - 1) + '\0');
  };
  for (const std::string& bad :
       {std::string(), std::string("garbage"), std::string("<plist><array><string>open"), hugeCount,
        binary.substr(0, binary.size() - 1), binary.substr(0, binary.size() - 20),
        "<plist/>" + std::string(16 * 1024 * 1024, ' '),
        nulKey("CFBundleVersion+", "CFBundleVersion+"),
        nulKey("Name\xc3\xa9+", std::string("\0\xe9\0+", 4))})
    EXPECT_FALSE(Read(bad)) << bad.size();
  EXPECT_FALSE(ReadPropertyListFile(dir_.path() + "/absent.plist", &value_));
  EXPECT_FALSE(ReadPropertyListFile(dir_.path(), &value_));
  EXPECT_EQ(value_.string, "untouched");
}

TEST_F(PropertyListTest, KeepsLevelsBeyond128AsOtherValues) {
  ASSERT_TRUE(Read(Binary(NestedArrays(200))));
  const PlistValue* level = &value_;
  int converted = 0;
  for (; level->kind == PlistValue::Kind::kArray && !level->array.empty(); ++converted)
    level = &level->array[0];
  EXPECT_EQ(converted, 128);
  EXPECT_EQ(level->kind, PlistValue::Kind::kOther);
}

TEST_F(PropertyListTest, RefusesNestingTheParserIsNotTrustedWith) {
  EXPECT_FALSE(Read(Binary(NestedArrays(5000))));
  std::string xml;  // unindented: libplist's writer would indent past the size limit
  for (int i = 0; i < 10000; ++i) xml += i < 5000 ? "<array>" : "</array>";
  EXPECT_FALSE(Read(xml));
}

}  // namespace
