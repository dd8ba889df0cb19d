#include "platform/system_version.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/scoped_temp_dir.h"

namespace {

bool AtLeast11(const std::string& body) {
  ScopedTempDir dir;
  WriteFileOrDie(dir.path() + "/v.plist", "<plist>" + body + "</plist>");
  return IsSystemAtLeastMacOS11(dir.path() + "/v.plist");
}

std::string Version(const std::string& value) {
  return "<dict><key>ProductVersion</key><string>" + value + "</string></dict>";
}

TEST(SystemVersionTest, ComparesTheMajorVersion) {
  for (const char* older : {"10.15.7", "10", "9.2"}) EXPECT_FALSE(AtLeast11(Version(older)));
  for (const char* newer : {"11.0", "14.2.1", "110"}) EXPECT_TRUE(AtLeast11(Version(newer)));
}

TEST(SystemVersionTest, AnUnknownVersionCountsAsCurrent) {
  EXPECT_TRUE(IsSystemAtLeastMacOS11("/nonexistent/SystemVersion.plist"));
  EXPECT_TRUE(AtLeast11("<dict><key>ProductVersion</key><real>10.15</real></dict>"));
  for (const char* odd : {"ten.15", ".10", ""}) EXPECT_TRUE(AtLeast11(Version(odd)));
}

}  // namespace
