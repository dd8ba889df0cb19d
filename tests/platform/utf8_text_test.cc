#include "platform/utf8_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kR = kReplacementCharacter;

std::string Replaced(std::string text) {
  ReplaceInvalidUtf8(text);
  return text;
}

TEST(Utf8TextTest, ValidTextStaysAndEachMaximalInvalidSubpartBecomesOneReplacement) {
  const std::string valid = std::string("a\0b", 3) + "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  struct Case {
    std::string bytes;
    std::string text;
  } cases[] = {
      {valid, valid},
      {"plain ascii text\xFF", "plain ascii text" + kR},
      {"a\x80z", "a" + kR + "z"},      // stray continuation byte
      {"caf\xE9!", "caf" + kR + "!"},  // Latin-1 byte
      {"x\xE2\x82", "x" + kR},         // cut short at the end
      {"\xF0\x9F\x98z", kR + "z"},     // cut short before a letter
      {"\xC0\xAF", kR + kR},           // overlong form
      {"\xE0\x9F\xBF", kR + kR + kR},
      {"\xF0\x8F\xBF\xBF", kR + kR + kR + kR},
      {"\xED\xA0\x80", kR + kR + kR},  // surrogate
      {"\xED\xBF\xBF", kR + kR + kR},
      {"\xF4\x90\x80\x80", kR + kR + kR + kR},  // above U+10FFFF
      {"\xF5\x80\xFF", kR + kR + kR},           // never a lead byte
      {"\xE2\x82\xACok\xE2(", "\xE2\x82\xACok" + kR + "("},
  };
  for (const Case& c : cases) EXPECT_EQ(Replaced(c.bytes), c.text) << c.text;
}

}  // namespace
