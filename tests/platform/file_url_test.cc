#include "platform/file_url.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/scoped_temp_dir.h"

namespace {

TEST(FileUrlTest, EscapesAllButUnreservedAndPathCharacters) {
  EXPECT_EQ(FileUrlStringFromPath("/A/z09-._~!$&'()*+,=:@", false),
            "file:///A/z09-._~!$&'()*+,=:@");
  EXPECT_EQ(FileUrlStringFromPath("/a b\"#%;<>?[\\]^`{|}\x7f\t\xc3\xa9", false),
            "file:///a%20b%22%23%25%3B%3C%3E%3F%5B%5C%5D%5E%60%7B%7C%7D%7F%09%C3%A9");
  EXPECT_EQ(FileUrlStringFromPath("/Apps/X.app", true), "file:///Apps/X.app/");
  EXPECT_EQ(FileUrlStringFromPath("/Apps/X.app/", true), "file:///Apps/X.app/");
  EXPECT_EQ(FileUrlStringFromPath("relative/X.app", true), "");
  ScopedTempDir dir;
  EXPECT_EQ(FileUrlStringFromExistingPath(dir.path()), "file://" + dir.path() + "/");
}

TEST(FileUrlTest, DecodingUndoesTheEncoding) {
  std::string path;
  for (const std::string original :
       {"/Apps/Orvane Folian.app", "/tmp/100% #1 ?", "/j\xc3\xb6\x01"}) {
    ASSERT_TRUE(PathFromFileUrlString(FileUrlStringFromPath(original, true), &path));
    EXPECT_EQ(path, original);
  }
  ASSERT_TRUE(PathFromFileUrlString("file:///a%c3%a9//?query#part", &path));
  EXPECT_EQ(path, "/a\xc3\xa9");
  ASSERT_TRUE(PathFromFileUrlString("file:///", &path));
  EXPECT_EQ(path, "/");
}

TEST(FileUrlTest, DecodingRefusesMalformedUrls) {
  std::string path = "kept";
  for (const char* url : {"", "file://", "file:/a", "http:///a", "file://host/a", "file:///a%",
                          "file:///a%2", "file:///a%zz", "file:///a%2g"})
    EXPECT_FALSE(PathFromFileUrlString(url, &path)) << url;
  EXPECT_EQ(path, "kept");
}

}  // namespace
