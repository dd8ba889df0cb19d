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
  bytes.resize(static_cast<size_t>(used));
  return bytes;
}

TEST(CFStringValidationTest, RejectsEveryMalformedClass) {
  struct Case {
    const char* bytes;
    const char* why;
  };
  const Case kInvalid[] = {
      {"\xC0\xAF", "overlong"},
      {"\xC1\xBF", "overlong"},
      {"\xE0\x80\xAF", "overlong"},
      {"\xE0\x9F\xBF", "overlong"},
      {"\xF0\x80\x80\xAF", "overlong"},
      {"\xF0\x8F\xBF\xBF", "overlong"},
      {"\xED\xA0\x80", "surrogate"},
      {"\xED\xBF\xBF", "surrogate"},
      {"\xF4\x90\x80\x80", "too large"},
      {"\xF5\x80\x80\x80", "too large"},
      {"\xFF", "never valid"},
      {"\xFE", "never valid"},
      {"\x80", "stray continuation"},
      {"a\xBF", "stray continuation"},
      {"\xC3\xA9\x80", "stray continuation"},
      {"\xC3", "truncated"},
      {"\xE2\x82", "truncated"},
      {"\xF0\x9F\x98", "truncated"},
      {"\xE2\x82z", "truncated"},
  };
  for (const Case& c : kInvalid) EXPECT_EQ(nullptr, CFStringCreateWithCString(c.bytes)) << c.why;
}

TEST(CFStringValidationTest, AcceptsBoundaryCodePointsAndGivesThemBack) {
  const char* const kValid[] = {"\x7F",         "\xC2\x80",         "\xDF\xBF",
                                "\xE0\xA0\x80", "\xED\x9F\xBF",     "\xEE\x80\x80",
                                "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"};
  for (const char* text : kValid) {
    CFStringRef string = CFStringCreateWithCString(text);
    ASSERT_NE(nullptr, string) << text;
    EXPECT_EQ(text, ToUtf8(string));
    CFRelease(string);
  }
}

TEST(CFStringLengthTest, CountsUtf16UnitsWithPairsAboveBmp) {
  CFStringRef string = CFStringCreateWithCString("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(5, CFStringGetLength(string));
  CFRelease(string);
}

TEST(CFStringGetBytesTest, StopsBeforeAUnitThatDoesNotFit) {
  CFStringRef string = CFStringCreateWithCString("a\xF0\x9F\x98\x80z");
  uint8_t buffer[8] = {0};
  CFIndex used = -1;
  EXPECT_EQ(1, CFStringGetBytes(string, CFRange{0, 4}, buffer, 4, &used));
  EXPECT_EQ(1, used);
  EXPECT_EQ(3, CFStringGetBytes(string, CFRange{0, 4}, buffer, 5, &used));
  EXPECT_EQ(5, used);
  EXPECT_EQ(0, memcmp(buffer, "a\xF0\x9F\x98\x80", 5));
  CFRelease(string);
}

TEST(CFStringGetBytesTest, ConvertsSubrangesButNotHalfAPair) {
  CFStringRef string = CFStringCreateWithCString("ab\xF0\x9F\x98\x80");
  uint8_t buffer[8] = {0};
  CFIndex used = -1;
  EXPECT_EQ(1, CFStringGetBytes(string, CFRange{1, 1}, buffer, 8, &used));
  EXPECT_EQ('b', buffer[0]);
  EXPECT_EQ(0, CFStringGetBytes(string, CFRange{3, 1}, buffer, 8, &used));
  EXPECT_EQ(0, used);
  EXPECT_EQ(1, CFStringGetBytes(string, CFRange{1, 2}, nullptr, 0, &used));
  EXPECT_EQ(0, CFStringGetBytes(string, CFRange{2, 5}, nullptr, 0, &used));
  CFRelease(string);
}

TEST(CFRetainCountTest, CountsRetainsAndReleasesAcrossThreads) {
  CFStringRef string = CFStringCreateWithCString("x");
  EXPECT_EQ(1, CFGetRetainCount(string));
  EXPECT_EQ(string, CFRetain(string));
  EXPECT_EQ(2, CFGetRetainCount(string));
  auto churn = [string] {
    for (int i = 0; i < 100000; ++i) {
      CFRetain(string);
      CFRelease(string);
    }
  };
  std::thread first(churn);
  std::thread second(churn);
  first.join();
  second.join();
  EXPECT_EQ(2, CFGetRetainCount(string));
  CFRelease(string);
  EXPECT_EQ(1, CFGetRetainCount(string));
  CFRelease(string);  // frees it; the sanitizer builds check it is freed once
  CFRelease(nullptr);
  EXPECT_EQ(0, CFGetRetainCount(nullptr));
}

}  // namespace
