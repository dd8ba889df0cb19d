// Turning captured bytes into UTF-8 text that is safe to split and search.
#ifndef SKIFF_PLATFORM_UTF8_TEXT_H_
#define SKIFF_PLATFORM_UTF8_TEXT_H_

#include <string>
#include <string_view>

// U+FFFD REPLACEMENT CHARACTER in UTF-8.
constexpr char kReplacementCharacter[] = "\xEF\xBF\xBD";

// `bytes` decoded as UTF-8, each maximal invalid subpart (a stray or missing
// continuation byte, an overlong form, a surrogate, a value above U+10FFFF, a
// sequence cut short) replaced by one U+FFFD. Valid input is returned
// unchanged, NUL bytes included.
std::string DecodeUtf8Replacing(std::string_view bytes);

#endif  // SKIFF_PLATFORM_UTF8_TEXT_H_
