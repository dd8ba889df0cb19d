#include "platform/cf_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

namespace {

std::string ToUtf8(CFStringRef string) {
  CFIndex used = 0;
  CFRange all = {0, CFStringGetLength(string)};
  CFStringGetBytes(string, all, nullptr, 0, &used);
  std::string bytes(static_cast<size_t>(used), '\0');
  CFStringGetBytes(string, all, reinterpret_cast<uint8_t*>(&bytes[0]), used, &used);
  return bytes;
}

// Which sequences are invalid is the decoder's business (utf8_text_test.cc);
// here only that a string is refused for any of them, up to the NUL.
TEST(CFStringValidationTest, RejectsWhatTheDecoderRefuses) {
  const char* const kInvalid[] = {"\xC0\xAF", "\xED\xA0\x80", "a\xBF", "\xC3", "\xE2\x82z"};
  for (const char* text : kInvalid) EXPECT_EQ(nullptr, CFStringCreateWithCString(text)) << text;
}

TEST(CFStringValidationTest, AcceptsBoundaryCodePointsAndGivesThemBack) {
  const char* const kValid[] = {
      "\x7F",         "\xC2\x80",     "\xE0\xA0\x80",     "\xED\x9F\xBF",
      "\xEE\x80\x80", "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"};
  for (const char* text : kValid) {
    CFStringRef string = CFStringCreateWithCString(text);
    ASSERT_NE(nullptr, string) << text;
    EXPECT_EQ(text, ToUtf8(string));
    CFRelease(string);
  }
}

TEST(CFStringGetBytesTest, CountsUtf16UnitsAndStopsBeforeWhatDoesNotFit) {
  CFStringRef string = CFStringCreateWithCString("a\xC3\xA9\xF0\x9F\x98\x80z");
  EXPECT_EQ(5, CFStringGetLength(string));
  uint8_t buffer[8] = {0};
  CFIndex used = -1;
  EXPECT_EQ(2, CFStringGetBytes(string, CFRange{0, 5}, buffer, 6, &used));
  EXPECT_EQ(3, used);
  EXPECT_EQ(4, CFStringGetBytes(string, CFRange{0, 5}, buffer, 7, &used));
  EXPECT_EQ(0, memcmp(buffer, "a\xC3\xA9\xF0\x9F\x98\x80", 7));
  // A range cutting the pair converts up to the cut only.
  EXPECT_EQ(1, CFStringGetBytes(string, CFRange{1, 2}, nullptr, 0, &used));
  EXPECT_EQ(0, CFStringGetBytes(string, CFRange{3, 1}, nullptr, 0, &used));
  CFRelease(string);
}

TEST(CFRetainCountTest, CountsRetainsAndReleasesAcrossThreads) {
  CFStringRef string = CFStringCreateWithCString("x");
  EXPECT_EQ(string, CFRetain(string));
  auto churn = [string] {
    for (int i = 0; i < 100000; ++i) CFRelease(CFRetain(string));
  };
  std::thread first(churn);
  std::thread second(churn);
  first.join();
  second.join();
  EXPECT_EQ(2, CFGetRetainCount(string));
  CFRelease(string);
  EXPECT_EQ(1, CFGetRetainCount(string));
  CFRelease(string);  // the sanitizer builds check it is freed exactly once
  CFRelease(nullptr);
}

}  // namespace
