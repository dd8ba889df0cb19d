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

// Where the well-formed UTF-8 that starts at `from` ends: the offset of the
// first invalid sequence at or after it, or of one cut short by the end of
// `bytes`, or else bytes.size(). Bytes arriving in pieces can be checked as
// they come: calling again with more bytes and the last result as `from`
// picks up a sequence the previous piece cut short.
size_t EndOfValidUtf8(std::string_view bytes, size_t from);

// Replaces, in `text` itself, each maximal invalid subpart by one U+FFFD.
// Valid text is left as it is, NUL bytes included, and is not copied; the
// string grows only by what the replacements add. The first `validBytes` of
// `text` are known to be well-formed (EndOfValidUtf8 from 0 reached at least
// that far) and are not checked again.
void ReplaceInvalidUtf8(std::string& text, size_t validBytes = 0);

#endif  // SKIFF_PLATFORM_UTF8_TEXT_H_
