// The one UTF-8 decoder: strict validation, and turning captured bytes into
// UTF-8 text that is safe to split and search.
#ifndef SKIFF_PLATFORM_UTF8_TEXT_H_
#define SKIFF_PLATFORM_UTF8_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

// U+FFFD REPLACEMENT CHARACTER in UTF-8.
constexpr char kReplacementCharacter[] = "\xEF\xBF\xBD";

// One sequence read from the front of some bytes.
struct Utf8Sequence {
  // Bytes taken: the whole well-formed sequence, or else the maximal invalid
  // subpart (at least one byte).
  size_t length;
  bool valid;
  // The code point of a valid sequence.
  char32_t codePoint;
};

// Decodes the sequence at the front of `bytes`, which must not be empty.
// Overlong forms, surrogates, values above U+10FFFF, stray continuation bytes
// and sequences cut short (by a byte that does not continue them or by the
// end of `bytes`) are invalid.
Utf8Sequence DecodeUtf8Sequence(std::string_view bytes);

// Whether all of `bytes` is well-formed UTF-8. NUL bytes are characters.
bool IsValidUtf8(std::string_view bytes);

// Replaces, in `text` itself, each maximal invalid subpart by one U+FFFD.
// Valid text is left as it is, NUL bytes included, and is not copied; the
// string grows only by what the replacements add.
void ReplaceInvalidUtf8(std::string& text);

#endif  // SKIFF_PLATFORM_UTF8_TEXT_H_
