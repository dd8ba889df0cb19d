#include "platform/system_version.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/scoped_temp_dir.h"

namespace {

class SystemVersionTest : public ::testing::Test {
 protected:
  bool AtLeast11(const std::string& plistBody) {
    WriteFileOrDie(dir_.path() + "/SystemVersion.plist", "<plist>" + plistBody + "</plist>");
    return IsSystemAtLeastMacOS11(dir_.path() + "/SystemVersion.plist");
  }
  static std::string Version(const std::string& value) {
    return "<dict><key>ProductVersion</key><string>" + value + "</string></dict>";
  }
  ScopedTempDir dir_;
};

TEST_F(SystemVersionTest, ComparesTheMajorVersion) {
  EXPECT_FALSE(AtLeast11(Version("10.15.7")));
  EXPECT_FALSE(AtLeast11(Version("10")));
  EXPECT_FALSE(AtLeast11(Version("9.2")));
  EXPECT_TRUE(AtLeast11(Version("11.0")));
  EXPECT_TRUE(AtLeast11(Version("14.2.1")));
  EXPECT_TRUE(AtLeast11(Version("110")));
}

TEST_F(SystemVersionTest, AnUnknownVersionCountsAsCurrent) {
  EXPECT_TRUE(IsSystemAtLeastMacOS11(dir_.path() + "/absent.plist"));
  EXPECT_TRUE(AtLeast11("<dict><key>ProductName</key><string>macOS</string></dict>"));
  EXPECT_TRUE(AtLeast11("<dict><key>ProductVersion</key><real>10.15</real></dict>"));
  EXPECT_TRUE(AtLeast11(Version("ten.15")));
  EXPECT_TRUE(AtLeast11(Version(".10")));
  EXPECT_TRUE(AtLeast11("<array><string>10.15</string></array>"));
}

}  // namespace
