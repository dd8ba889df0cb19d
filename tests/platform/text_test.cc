#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>

#include "platform/file_url.h"
#include "platform/mac_utils.h"
#include "platform/utf8_text.h"

namespace {

const std::string kR = kReplacementCharacter;

// Through a platform string and back, or the conversion's failure message.
std::string RoundTrip(const std::string& text) {
  try {
    CFStringRef string = MacUtils::StdStringToCFString(text);
    MacUtils::CFTypeReleaser releaser(string);
    return MacUtils::CFStringToStdString(string);
  } catch (const std::runtime_error& error) {
    return error.what();
  }
}

// Each maximal invalid subpart becomes one replacement; text that needs none
// (an empty repair in the table) converts to a platform string and back
// unchanged up to its first NUL, any other text is refused.
TEST(Utf8TextTest, RepairsInvalidTextAndConvertsOnlyValidText) {
  const std::pair<std::string, std::string> kRows[] = {
      {std::string("a\0b\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 12), ""},
      {"\x7F\xC2\x80\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80", ""},
      {"\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", ""},
      {"", ""},
      {"plain ascii text\xFF", "plain ascii text" + kR},
      {"x\xE2\x82", "x" + kR},      // cut short at the end
      {"\xF0\x9F\x98z", kR + "z"},  // cut short before a letter
      {"\xC0\xAF", kR + kR},        // overlong form
      {"\xE0\x9F\xBF", kR + kR + kR},
      {"\xF0\x8F\xBF\xBF", kR + kR + kR + kR},
      {"\xED\xA0\x80", kR + kR + kR},           // surrogate
      {"\xF4\x90\x80\x80", kR + kR + kR + kR},  // above U+10FFFF
      {"\xF5\x80\xFF", kR + kR + kR},           // never a lead byte
  };
  for (const auto& [bytes, repaired] : kRows) {
    const bool valid = repaired.empty();
    std::string text = bytes;
    ReplaceInvalidUtf8(text);
    EXPECT_EQ(text, valid ? bytes : repaired);
    EXPECT_EQ(RoundTrip(bytes), valid ? bytes.substr(0, bytes.find('\0'))
                                      : "Unable to convert std::string to CFString.");
  }
}

TEST(FileUrlTest, EncodesAbsolutePathsAndDecodesTheirUrls) {
  const std::tuple<std::string, bool, std::string> kRows[] = {
      // path, folder?, URL
      {"/A/z09-._~!$&'()*+,=:@", false, "file:///A/z09-._~!$&'()*+,=:@"},
      {"/a b\"#%;<>?[\\]^`{|}\x7f\t\x01\xc3\xa9", false,
       "file:///a%20b%22%23%25%3B%3C%3E%3F%5B%5C%5D%5E%60%7B%7C%7D%7F%09%01%C3%A9"},
      {"/Apps/X.app/", true, "file:///Apps/X.app/"},
      {"/", true, "file:///"},
      {"relative/X.app", true, ""},
  };
  std::string path;
  for (const auto& [original, folder, url] : kRows) {
    EXPECT_EQ(FileUrlStringFromPath(original, folder), url);
    if (url.empty()) continue;
    ASSERT_TRUE(PathFromFileUrlString(url, &path)) << url;
    EXPECT_EQ(FileUrlStringFromPath(path, folder), url);
  }
  ASSERT_TRUE(PathFromFileUrlString("file:///a%c3%a9//?query#part", &path));
  EXPECT_EQ(path, "/a\xc3\xa9");
  for (const char* url :
       {"", "file://", "file:/a", "file://host/a", "file:///a%2", "file:///a%zz", "file:///a%2g"})
    EXPECT_FALSE(PathFromFileUrlString(url, &path)) << url;
  EXPECT_EQ(path, "/a\xc3\xa9");
}

}  // namespace
