#include "platform/file_url.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/scoped_temp_dir.h"

namespace {

TEST(FileUrlTest, EscapesEverythingButUnreservedAndPathCharacters) {
  EXPECT_EQ(FileUrlStringFromPath("/Applications/Az09-._~!$&'()*+,=:@", false),
            "file:///Applications/Az09-._~!$&'()*+,=:@");
  EXPECT_EQ(FileUrlStringFromPath("/a b\"#%;<>?[\\]^`{|}\x7f\t", false),
            "file:///a%20b%22%23%25%3B%3C%3E%3F%5B%5C%5D%5E%60%7B%7C%7D%7F%09");
  EXPECT_EQ(FileUrlStringFromPath("/caf\xc3\xa9", false), "file:///caf%C3%A9");
}

TEST(FileUrlTest, DirectoriesEndInOneSlash) {
  EXPECT_EQ(FileUrlStringFromPath("/Applications/X.app", true), "file:///Applications/X.app/");
  EXPECT_EQ(FileUrlStringFromPath("/Applications/X.app/", true), "file:///Applications/X.app/");
  EXPECT_EQ(FileUrlStringFromPath("relative/X.app", true), "");
  ScopedTempDir dir;
  WriteFileOrDie(dir.path() + "/f.pdf", "");
  EXPECT_EQ(FileUrlStringFromExistingPath(dir.path()), "file://" + dir.path() + "/");
  EXPECT_EQ(FileUrlStringFromExistingPath(dir.path() + "/f.pdf"),
            "file://" + dir.path() + "/f.pdf");
}

TEST(FileUrlTest, PathsSurviveTheRoundTrip) {
  for (const std::string path :
       {"/Applications/Orvane Folian.app", "/tmp/100% #1 ?.pdf", "/Users/j\xc3\xb6rg/\x01\xff"}) {
    std::string decoded;
    ASSERT_TRUE(PathFromFileUrlString(FileUrlStringFromPath(path, true), &decoded)) << path;
    EXPECT_EQ(decoded, path);
  }
}

TEST(FileUrlTest, DecodingAcceptsLowerCaseHexAndDropsTrailingSlashes) {
  std::string path;
  ASSERT_TRUE(PathFromFileUrlString("file:///a%c3%a9//", &path));
  EXPECT_EQ(path, "/a\xc3\xa9");
  ASSERT_TRUE(PathFromFileUrlString("file:///", &path));
  EXPECT_EQ(path, "/");
  ASSERT_TRUE(PathFromFileUrlString("file:///a/b.pdf?query#part", &path));
  EXPECT_EQ(path, "/a/b.pdf");
}

TEST(FileUrlTest, DecodingRefusesMalformedUrls) {
  std::string path = "kept";
  for (const char* url : {"", "file://", "file:/a", "http:///a", "file://host/a", "/a",
                          "file:///a%", "file:///a%2", "file:///a%zz", "file:///a%2g"})
    EXPECT_FALSE(PathFromFileUrlString(url, &path)) << url;
  EXPECT_EQ(path, "kept");
}

}  // namespace
