#include "xml/xml_escape.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/utf8_text.h"

namespace {

// The replacement of each byte; empty for a byte written as it is. The flags
// repeat which bytes are replaced, compactly, for the scan over the runs.
class Replacements {
 public:
  void Set(char c, std::string_view replacement) {
    replacements_[static_cast<unsigned char>(c)] = replacement;
    replaced_[static_cast<unsigned char>(c)] = true;
  }
  bool IsReplaced(char c) const { return replaced_[static_cast<unsigned char>(c)]; }
  std::string_view For(char c) const { return replacements_[static_cast<unsigned char>(c)]; }

 private:
  std::array<bool, 256> replaced_{};
  std::array<std::string_view, 256> replacements_{};
};

Replacements MarkupAsCharacterReferences() {
  Replacements table;
  table.Set('&', "&#38;");
  table.Set('<', "&#60;");
  table.Set('>', "&#62;");
  table.Set('\r', "&#13;");
  return table;
}

const Replacements& TableFor(XmlEscaping escaping, bool layoutOnly) {
  static const Replacements kText = MarkupAsCharacterReferences();
  static const Replacements kLayoutText = [] {
    Replacements table = MarkupAsCharacterReferences();
    table.Set('\n', "&#10;");
    table.Set('\t', "&#9;");
    table.Set(' ', "&#32;");
    return table;
  }();
  static const Replacements kAttribute = [] {
    Replacements table;
    table.Set('&', "&amp;");
    table.Set('<', "&lt;");
    table.Set('>', "&gt;");
    table.Set('"', "&quot;");
    table.Set('\t', "&#9;");
    table.Set('\n', "&#10;");
    table.Set('\r', "&#13;");
    return table;
  }();
  static const Replacements kEntities = [] {
    Replacements table;
    table.Set('&', "&amp;");
    table.Set('<', "&lt;");
    table.Set('>', "&gt;");
    table.Set('"', "&quot;");
    table.Set('\'', "&apos;");
    return table;
  }();
  switch (escaping) {
    case XmlEscaping::kText:
      return layoutOnly ? kLayoutText : kText;
    case XmlEscaping::kAttribute:
      return kAttribute;
    case XmlEscaping::kEntities:
      break;
  }
  return kEntities;
}

constexpr uint64_t kEveryByte = 0x0101010101010101u;
constexpr uint64_t kHighBits = 0x8080808080808080u;

bool HasByteBelow(uint64_t word, unsigned char limit) {
  return ((word - kEveryByte * limit) & ~word & kHighBits) != 0;
}

bool HasByte(uint64_t word, unsigned char byte) {
  return HasByteBelow(word ^ (kEveryByte * byte), 1);
}

// Whether the eight bytes at `p` hold no control character and none of
// " & ' < >: the bytes every table but the layout one leaves as they are.
bool IsPlainWord(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof(word));
  return !HasByteBelow(word, 0x20) && !HasByte(word, '"') && !HasByte(word, '&') &&
         !HasByte(word, '\'') && !HasByte(word, '<') && !HasByte(word, '>');
}

// Printable ASCII other than " & ' < >: no escaping replaces it.
bool IsPlainAscii(char c) {
  return c >= 0x20 && c < 0x7F && c != '"' && c != '&' && c != '\'' && c != '<' && c != '>';
}

// Whether the eight bytes at `p` are printable ASCII and none of " & ' < >:
// bytes that no escaping replaces and that need no check. It may say no for
// some that are, never yes for one that is not.
bool IsPlainAsciiWord(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof(word));
  // The lowest byte below 0x20 borrows; bytes from 0x80 keep their high bit.
  const uint64_t controlOrHigh = (word - kEveryByte * 0x20) | word;
  // '&' and '\'' differ in the lowest bit, '<' and '>' in the next one.
  const uint64_t quote = word ^ (kEveryByte * '"');
  const uint64_t ampersandOrApostrophe = (word | (kEveryByte * 0x01)) ^ (kEveryByte * '\'');
  const uint64_t angle = (word | (kEveryByte * 0x02)) ^ (kEveryByte * '>');
  const uint64_t zeroes = ((quote - kEveryByte) & ~quote) |
                          ((ampersandOrApostrophe - kEveryByte) & ~ampersandOrApostrophe) |
                          ((angle - kEveryByte) & ~angle);
  return ((controlOrHigh | zeroes) & kHighBits) == 0;
}

bool IsLayoutOnly(std::string_view text) {
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
  }
  return true;
}

}  // namespace

void AppendXmlEscaped(std::string_view text, XmlEscaping escaping, std::string* out) {
  const bool layoutOnly = escaping == XmlEscaping::kText && IsLayoutOnly(text);
  const Replacements& replacements = TableFor(escaping, layoutOnly);
  size_t runStart = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!layoutOnly) {
      while (text.size() - i >= 8 && IsPlainWord(text.data() + i)) i += 8;
      if (i == text.size()) break;
    }
    if (!replacements.IsReplaced(text[i])) continue;
    out->append(text.data() + runStart, i - runStart);
    const std::string_view replacement = replacements.For(text[i]);
    out->append(replacement.data(), replacement.size());
    runStart = i + 1;
  }
  out->append(text.data() + runStart, text.size() - runStart);
}

bool AppendXmlEscapedIfCarried(std::string_view text, XmlEscaping escaping, std::string* out) {
  if (escaping == XmlEscaping::kText && IsLayoutOnly(text)) return text.empty();
  const Replacements& replacements = TableFor(escaping, false);
  const size_t mark = out->size();
  size_t runStart = 0;
  size_t i = 0;
  while (i < text.size()) {
    while (text.size() - i >= 8 && IsPlainAsciiWord(text.data() + i)) i += 8;
    while (i < text.size() && IsPlainAscii(text[i])) ++i;
    if (i == text.size()) break;
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const Utf8Sequence sequence = DecodeUtf8Sequence(text.substr(i));
      // U+FFFE and U+FFFF are no XML characters.
      if (!sequence.valid || (sequence.codePoint | 1) == 0xFFFF) {
        out->resize(mark);
        return false;
      }
      i += sequence.length;
      continue;
    }
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
      out->resize(mark);
      return false;
    }
    if (replacements.IsReplaced(text[i])) {
      out->append(text.data() + runStart, i - runStart);
      const std::string_view replacement = replacements.For(text[i]);
      out->append(replacement.data(), replacement.size());
      runStart = i + 1;
    }
    ++i;
  }
  out->append(text.data() + runStart, text.size() - runStart);
  return true;
}
