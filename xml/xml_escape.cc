#include "xml/xml_escape.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "platform/utf8_text.h"
#include "xml/xml_output.h"

namespace {

// The replacement of each byte; empty for a byte written as it is.
class Replacements {
 public:
  constexpr void Set(char c, std::string_view replacement) {
    replacements_[static_cast<unsigned char>(c)] = replacement;
  }
  bool IsReplaced(char c) const { return !For(c).empty(); }
  std::string_view For(char c) const { return replacements_[static_cast<unsigned char>(c)]; }

 private:
  std::array<std::string_view, 256> replacements_{};
};

constexpr Replacements MarkupAsCharacterReferences() {
  Replacements table;
  table.Set('&', "&#38;");
  table.Set('<', "&#60;");
  table.Set('>', "&#62;");
  table.Set('\r', "&#13;");
  return table;
}

constexpr Replacements kTextTable = MarkupAsCharacterReferences();
constexpr Replacements kLayoutTextTable = [] {
  Replacements table = MarkupAsCharacterReferences();
  table.Set('\n', "&#10;");
  table.Set('\t', "&#9;");
  table.Set(' ', "&#32;");
  return table;
}();
// The entity references for the markup characters and the double quote.
constexpr Replacements PredefinedEntities() {
  Replacements table;
  table.Set('&', "&amp;");
  table.Set('<', "&lt;");
  table.Set('>', "&gt;");
  table.Set('"', "&quot;");
  return table;
}

constexpr Replacements kAttributeTable = [] {
  Replacements table = PredefinedEntities();
  table.Set('\t', "&#9;");
  table.Set('\n', "&#10;");
  table.Set('\r', "&#13;");
  return table;
}();
constexpr Replacements kEntitiesTable = [] {
  Replacements table = PredefinedEntities();
  table.Set('\'', "&apos;");
  return table;
}();

const Replacements& TableFor(XmlEscaping escaping, bool layoutOnly) {
  switch (escaping) {
    case XmlEscaping::kText:
      return layoutOnly ? kLayoutTextTable : kTextTable;
    case XmlEscaping::kAttribute:
      return kAttributeTable;
    case XmlEscaping::kEntities:
      break;
  }
  return kEntitiesTable;
}

// For each byte, whether the carried writer must look at it: control
// characters, bytes from 0x80, "&", "<", ">", and for values '"'.
constexpr std::array<bool, 256> StopBytes(bool quote) {
  std::array<bool, 256> stops{};
  for (int c = 0; c < 0x20; ++c) stops[c] = true;
  for (int c = 0x80; c < 0x100; ++c) stops[c] = true;
  stops['&'] = stops['<'] = stops['>'] = true;
  stops['"'] = quote;
  return stops;
}
constexpr std::array<bool, 256> kTextStops = StopBytes(false);
constexpr std::array<bool, 256> kValueStops = StopBytes(true);

// Sixteen bytes compared at once; GCC and Clang turn these into vector
// instructions on every target, and into plain code where there are none.
typedef signed char Bytes16 __attribute__((vector_size(16)));

// A mask with the bytes of the sixteen at `p` that are stops set to 0xFF.
// Bytes from 0x80 are negative, so one comparison takes them with the
// control characters.
void StopMask(const char* p, bool quote, uint64_t* low, uint64_t* high) {
  Bytes16 bytes;
  std::memcpy(&bytes, p, sizeof(bytes));
  Bytes16 stop = (bytes < 0x20) | (bytes == '&') | (bytes == '<') | (bytes == '>');
  if (quote) stop |= bytes == '"';
  std::memcpy(low, &stop, sizeof(*low));
  std::memcpy(high, reinterpret_cast<const char*>(&stop) + 8, sizeof(*high));
}

// The first byte in memory is the lowest of a word: little-endian, as every
// machine Skiff runs on.
size_t FirstSet(uint64_t low, uint64_t high) {
  return static_cast<size_t>(low != 0 ? __builtin_ctzll(low) : 64 + __builtin_ctzll(high)) / 8;
}

// Where the first stop at or after `from` lies in `text`, fewer than sixteen
// bytes before its end; its size when there is none.
size_t NextStop(const char* text, size_t size, size_t from, bool quote) {
  size_t at = from;
  uint64_t low, high;
  if (at == size) return size;
  if (size >= 16) {
    // The last sixteen bytes of the text, of which those before `at` were
    // passed already.
    const size_t start = size - 16;
    StopMask(text + start, quote, &low, &high);
    const size_t passed = at - start;
    if (passed >= 8) {
      low = 0;
      high &= ~uint64_t{0} << (8 * (passed - 8));
    } else {
      low &= ~uint64_t{0} << (8 * passed);
    }
    return (low | high) != 0 ? start + FirstSet(low, high) : size;
  }
  const std::array<bool, 256>& stops = quote ? kValueStops : kTextStops;
  for (; at < size; ++at) {
    if (stops[static_cast<unsigned char>(text[at])]) return at;
  }
  return size;
}

char* WriteReplacement(std::string_view replacement, char* out) {
  return CopyXmlBytes(out, replacement.data(), replacement.size());
}

}  // namespace

bool IsXmlLayoutOnly(std::string_view text) {
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
  }
  return true;
}

char* WriteXmlEscaped(std::string_view text, XmlEscaping escaping, bool layoutOnly, char* out) {
  const Replacements& replacements =
      TableFor(escaping, escaping == XmlEscaping::kText && layoutOnly);
  for (char c : text) {
    if (replacements.IsReplaced(c)) {
      out = WriteReplacement(replacements.For(c), out);
    } else {
      *out++ = c;
    }
  }
  return out;
}

char* WriteXmlEscapedIfCarried(std::string_view text, XmlEscaping escaping, char* out) {
  const Replacements& replacements = TableFor(escaping, false);
  const bool quote = escaping == XmlEscaping::kAttribute;
  const char* const data = text.data();
  const size_t size = text.size();
  size_t at = 0;
  for (;;) {
    if (size - at >= 16) {
      // A block is stored whole while it is checked: the room for the rest
      // of the text, six bytes for each of at least sixteen, holds it, and
      // what follows the first stop is overwritten.
      uint64_t low, high;
      StopMask(data + at, quote, &low, &high);
      std::memcpy(out, data + at, 16);
      if ((low | high) == 0) {
        out += 16;
        at += 16;
        continue;
      }
      const size_t run = FirstSet(low, high);
      out += run;
      at += run;
    } else {
      const size_t stop = NextStop(data, size, at, quote);
      out = CopyXmlBytes(out, data + at, stop - at);
      at = stop;
      if (at == size) return out;
    }
    const unsigned char c = static_cast<unsigned char>(data[at]);
    if (c >= 0x80) {
      // Two-byte sequences, the usual ones, are checked here; U+FFFE and
      // U+FFFF, which are no XML characters, take three.
      size_t length;
      if (c >= 0xC2 && c <= 0xDF && size - at >= 2 &&
          (static_cast<unsigned char>(data[at + 1]) & 0xC0) == 0x80) {
        length = 2;
      } else {
        const Utf8Sequence sequence = DecodeUtf8Sequence(text.substr(at));
        if (!sequence.valid || (sequence.codePoint | 1) == 0xFFFF) return nullptr;
        length = sequence.length;
      }
      out = CopyXmlBytes(out, data + at, length);
      at += length;
      continue;
    }
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return nullptr;
    if (replacements.IsReplaced(data[at])) {
      out = WriteReplacement(replacements.For(data[at]), out);
    } else {
      *out++ = data[at];
    }
    ++at;
  }
}

void AppendXmlEscaped(std::string_view text, XmlEscaping escaping, std::string* out) {
  const size_t start = out->size();
  out->resize(start + kMaxEscapedBytesPerByte * text.size());
  char* const end = WriteXmlEscaped(text, escaping, IsXmlLayoutOnly(text), &(*out)[start]);
  out->resize(static_cast<size_t>(end - out->data()));
}
