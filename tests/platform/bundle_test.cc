#include "platform/bundle.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/scoped_temp_dir.h"

namespace {

TEST(BundleTest, ReadsIdentifierExecutableAndArchitectures) {
  ScopedTempDir dir;
  const std::string path = dir.path() + "/Tool.app";
  WriteFileOrDie(path + "/Contents/Info.plist",
                 "<plist><dict><key>CFBundleIdentifier</key><string>com.example.tool</string>"
                 "<key>CFBundleExecutable</key><string>Tool Main</string></dict></plist>");
  WriteFileOrDie(path + "/Contents/MacOS/Tool Main",  // thin 64-bit Mach-O for x86-64
                 std::string("\xcf\xfa\xed\xfe\x07\x00\x00\x01", 8) + std::string(24, '\0'));
  WriteFileOrDie(dir.path() + "/File.app", "x");
  EXPECT_EQ(Bundle::Open(dir.path() + "/File.app"), nullptr);
  const auto bundle = Bundle::Open(path + "/");
  ASSERT_NE(bundle, nullptr);
  EXPECT_EQ(bundle->path(), path);
  EXPECT_EQ(bundle->bundleIdentifier(), "com.example.tool");
  EXPECT_EQ(bundle->executablePath(), path + "/Contents/MacOS/Tool Main");
  EXPECT_EQ(bundle->executableArchitectures(), std::vector<uint32_t>{0x01000007});
}

TEST(BundleTest, UnusableOrMistypedInfoGivesNothing) {
  for (const char* info : {"", "<plist><array/></plist>", "not a plist",
                           "<plist><dict><key>CFBundleIdentifier</key><integer>3</integer>"
                           "<key>CFBundleExecutable</key><array/></dict></plist>"}) {
    ScopedTempDir dir;
    WriteFileOrDie(dir.path() + "/Contents/Info.plist", info);
    const auto bundle = Bundle::Open(dir.path());
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(bundle->bundleIdentifier(), "");
    EXPECT_EQ(bundle->executablePath(), "");
    EXPECT_TRUE(bundle->executableArchitectures().empty());
  }
}

}  // namespace
