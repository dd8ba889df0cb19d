#include "platform/property_list.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdlib>
#include <string>

#include "tests/support/scoped_temp_dir.h"

namespace {

std::string XmlPlist(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC "
         "\"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">" +
         body + "</plist>\n";
}

std::string ToBinary(plist_t root) {
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(root, &bytes, &length);
  std::string data(bytes, length);
  free(bytes);
  plist_free(root);
  return data;
}

// Arrays nested `levels` deep, innermost empty.
std::string NestedXml(int levels) {
  std::string body;
  for (int i = 0; i < levels; ++i) body += "<array>";
  for (int i = 0; i < levels; ++i) body += "</array>";
  return XmlPlist(body);
}

class PropertyListTest : public ::testing::Test {
 protected:
  // Reads `contents` back through a file; `value` keeps what was read.
  bool Read(const std::string& contents) {
    WriteFileOrDie(dir_.path() + "/p.plist", contents);
    return ReadPropertyListFile(dir_.path() + "/p.plist", &value);
  }

  ScopedTempDir dir_;
  PlistValue value;
};

TEST_F(PropertyListTest, ReadsEveryKindFromXml) {
  ASSERT_TRUE(Read(
      XmlPlist("<dict><key>s</key><string>a &amp; b</string><key>i</key><integer>-5</integer>"
               "<key>r</key><real>2.5</real><key>t</key><true/><key>f</key><false/>"
               "<key>a</key><array><string>x</string><dict/></array><key>d</key><data>AAEC</data>"
               "<key>when</key><date>2020-01-01T00:00:00Z</date></dict>")));
  ASSERT_EQ(value.kind, PlistValue::Kind::kDictionary);
  EXPECT_EQ(value.Find("s")->string, "a & b");
  EXPECT_EQ(value.Find("i")->kind, PlistValue::Kind::kInteger);
  EXPECT_EQ(value.Find("i")->number, -5);
  EXPECT_EQ(value.Find("r")->number, 2.5);
  EXPECT_TRUE(value.Find("t")->BoolValue());
  EXPECT_EQ(value.Find("f")->kind, PlistValue::Kind::kBoolean);
  EXPECT_FALSE(value.Find("f")->BoolValue());
  ASSERT_EQ(value.Find("a")->array.size(), 2u);
  EXPECT_EQ(value.Find("a")->array[1].kind, PlistValue::Kind::kDictionary);
  EXPECT_EQ(value.Find("d")->kind, PlistValue::Kind::kOther);
  EXPECT_EQ(value.Find("when")->kind, PlistValue::Kind::kOther);
  EXPECT_EQ(value.Find("missing"), nullptr);
  EXPECT_EQ(value.Find("a")->Find("x"), nullptr);
}

TEST_F(PropertyListTest, ReadsBinaryFiles) {
  plist_t root = plist_new_dict();
  plist_t list = plist_new_array();
  plist_array_append_item(list, plist_new_string("Editor"));
  plist_dict_set_item(root, "list", list);
  plist_dict_set_item(root, "flag", plist_new_bool(1));
  plist_dict_set_item(root, "count", plist_new_uint(42));
  ASSERT_TRUE(Read(ToBinary(root)));
  EXPECT_EQ(value.Find("list")->array.at(0).string, "Editor");
  EXPECT_EQ(value.Find("flag")->kind, PlistValue::Kind::kBoolean);
  EXPECT_EQ(value.Find("count")->number, 42);
}

TEST_F(PropertyListTest, RefusesWhatIsNotAPropertyListFile) {
  value.string = "untouched";
  EXPECT_FALSE(Read(""));
  EXPECT_FALSE(Read("garbage"));
  EXPECT_FALSE(Read(XmlPlist("<array><string>open")));
  EXPECT_FALSE(Read("bplist00 and then nothing sensible at all, for a while longer"));
  EXPECT_FALSE(ReadPropertyListFile(dir_.path() + "/absent.plist", &value));
  EXPECT_FALSE(ReadPropertyListFile(dir_.path(), &value));
  EXPECT_EQ(value.string, "untouched");
}

TEST_F(PropertyListTest, RefusesDamagedBinaryFiles) {
  plist_t root = plist_new_array();
  for (int i = 0; i < 3; ++i) plist_array_append_item(root, plist_new_string("entry"));
  const std::string data = ToBinary(root);
  for (size_t cut : {1, 8, 20}) EXPECT_FALSE(Read(data.substr(0, data.size() - cut))) << cut;
  std::string hugeCount = data;
  hugeCount.replace(data.size() - 24, 8, std::string(8, '\xff'));
  EXPECT_FALSE(Read(hugeCount));
  std::string hugeOffsets = data;
  hugeOffsets.replace(data.size() - 8, 8, "\x00\x00\x00\x00\x7f\xff\xff\xff", 8);
  EXPECT_FALSE(Read(hugeOffsets));
}

TEST_F(PropertyListTest, RefusesOversizedFiles) {
  const std::string body = "<array></array>";
  EXPECT_FALSE(Read(XmlPlist(body) + std::string(16 * 1024 * 1024, ' ')));
}

TEST_F(PropertyListTest, KeepsDeepLevelsAsOtherValues) {
  ASSERT_TRUE(Read(NestedXml(200)));
  const PlistValue* level = &value;
  int converted = 0;
  while (level->kind == PlistValue::Kind::kArray && !level->array.empty()) {
    level = &level->array[0];
    ++converted;
  }
  EXPECT_EQ(converted, 128);
  EXPECT_EQ(level->kind, PlistValue::Kind::kOther);
}

TEST_F(PropertyListTest, RefusesFilesNestedDeeperThanTheParserIsTrustedWith) {
  EXPECT_FALSE(Read(NestedXml(5000)));
  plist_t root = plist_new_array();
  plist_t innermost = root;
  for (int i = 0; i < 5000; ++i) {
    plist_t next = plist_new_array();
    plist_array_append_item(innermost, next);
    innermost = next;
  }
  EXPECT_FALSE(Read(ToBinary(root)));
}

}  // namespace
