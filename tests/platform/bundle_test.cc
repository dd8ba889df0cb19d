#include "platform/bundle.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/scoped_temp_dir.h"

namespace {

class BundleTest : public ::testing::Test {
 protected:
  std::string MakeBundle(const std::string& info) {
    const std::string path = dir_.path() + "/Tool.app";
    MakeDirectoriesOrDie(path + "/Contents/MacOS");
    if (!info.empty()) WriteFileOrDie(path + "/Contents/Info.plist", info);
    return path;
  }
  ScopedTempDir dir_;
};

TEST_F(BundleTest, ReadsIdentifierExecutableAndArchitectures) {
  const std::string path = MakeBundle(
      "<plist><dict><key>CFBundleIdentifier</key><string>com.example.tool</string>"
      "<key>CFBundleExecutable</key><string>Tool Main</string></dict></plist>");
  // A thin 64-bit little-endian Mach-O header for x86-64.
  WriteFileOrDie(path + "/Contents/MacOS/Tool Main",
                 std::string("\xcf\xfa\xed\xfe\x07\x00\x00\x01", 8) + std::string(24, '\0'));
  const auto bundle = Bundle::Open(path + "/");
  ASSERT_NE(bundle, nullptr);
  EXPECT_EQ(bundle->path(), path);
  EXPECT_EQ(bundle->bundleIdentifier(), "com.example.tool");
  EXPECT_EQ(bundle->executablePath(), path + "/Contents/MacOS/Tool Main");
  EXPECT_EQ(bundle->executableArchitectures(), std::vector<uint32_t>{0x01000007});
  EXPECT_EQ(bundle->ObjectForKey("CFBundleIdentifier")->string, "com.example.tool");
  EXPECT_EQ(bundle->ObjectForKey("TrackName"), nullptr);
}

TEST_F(BundleTest, OnlyDirectoriesAreBundles) {
  WriteFileOrDie(dir_.path() + "/File.app", "x");
  EXPECT_EQ(Bundle::Open(dir_.path() + "/File.app"), nullptr);
  EXPECT_EQ(Bundle::Open(dir_.path() + "/Absent.app"), nullptr);
  EXPECT_EQ(Bundle::Open(""), nullptr);
}

TEST_F(BundleTest, UnusableInfoGivesAnEmptyDictionary) {
  for (const std::string& info :
       {std::string(), std::string("<plist><array/></plist>"), std::string("not a plist")}) {
    const auto bundle = Bundle::Open(MakeBundle(info));
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(bundle->bundleIdentifier(), "");
    EXPECT_EQ(bundle->executablePath(), "");
    EXPECT_TRUE(bundle->executableArchitectures().empty());
  }
}

TEST_F(BundleTest, NonStringValuesAreIgnored) {
  const auto bundle =
      Bundle::Open(MakeBundle("<plist><dict><key>CFBundleIdentifier</key><integer>3</integer>"
                              "<key>CFBundleExecutable</key><array/></dict></plist>"));
  ASSERT_NE(bundle, nullptr);
  EXPECT_EQ(bundle->bundleIdentifier(), "");
  EXPECT_EQ(bundle->executablePath(), "");
}

}  // namespace
