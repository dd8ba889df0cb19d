#include "platform/mac_utils.h"

#include <gtest/gtest.h>

#include <boost/shared_ptr.hpp>
#include <stdexcept>
#include <string>

namespace {

std::string RoundTrip(const std::string& text) {
  CFStringRef string = MacUtils::StdStringToCFString(text);
  MacUtils::CFTypeReleaser releaser(string);
  return MacUtils::CFStringToStdString(string);
}

TEST(StringConversionTest, NonAsciiEmptyAndNulCutStrings) {
  EXPECT_EQ("caf\xC3\xA9 \xF0\x9F\x98\x80", RoundTrip("caf\xC3\xA9 \xF0\x9F\x98\x80"));
  EXPECT_EQ("", RoundTrip(""));
  EXPECT_EQ("ab", RoundTrip(std::string("ab\0cd", 5)));
}

TEST(StringConversionTest, InvalidUtf8ThrowsTheFixedMessage) {
  try {
    MacUtils::StdStringToCFString("ok\xFF");
    FAIL() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ("Unable to convert std::string to CFString.", error.what());
  }
}

TEST(CFTypeReleaserTest, ReleasesOnceWhenTheLastSharedOwnerGoes) {
  CFStringRef string = MacUtils::StdStringToCFString("x");
  CFRetain(string);  // our own reference, to watch the count
  boost::shared_ptr<MacUtils::CFTypeReleaser> first(new MacUtils::CFTypeReleaser(string));
  boost::shared_ptr<MacUtils::CFTypeReleaser> second = first;
  first.reset();
  EXPECT_EQ(2, CFGetRetainCount(string));
  second.reset();
  EXPECT_EQ(1, CFGetRetainCount(string));
  CFRelease(string);
}

}  // namespace
