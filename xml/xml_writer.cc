#include "xml/xml_writer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/mac_utils.h"
#include "xml/xml_escape.h"
#include "xml/xml_output.h"

namespace {

// The declaration is followed directly by the root: the model adds no
// whitespace of its own anywhere, not even a line break.
const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

// Every string is taken as the platform string would hold it on its way to
// the platform's writer: invalid UTF-8 throws and a NUL byte cuts the string.
std::string_view AsPlatformText(std::string_view text) { return MacUtils::ConvertibleText(text); }

// Only the ASCII part of the name rules is checked; other characters are
// taken on trust. `original` is the stored name, `name` what conversion made
// of it: a name cut at a NUL byte could clash with another.
bool IsUsableName(std::string_view original, std::string_view name) {
  if (name.empty() || name.size() != original.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c >= 0x80) continue;
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
    bool other = (c >= '0' && c <= '9') || c == '-' || c == '.';
    if (!letter && !(other && i > 0)) return false;
  }
  return true;
}

struct OpenElement {
  const XmlNode::XmlNodeImpl* element;
  std::pmr::list<boost::shared_ptr<XmlNode::XmlNodeImpl>>::const_iterator nextChild;
  std::string_view name;
};

// A name of ASCII letters, digits and "_:-." that does not start with a
// digit, "-" or ".": usable as it is stored, with nothing to convert.
// For each byte: 2 where a plain name may start with it, 1 where it may only
// follow, 0 where it has no place in one.
constexpr std::array<uint8_t, 256> kPlainNameBytes = [] {
  std::array<uint8_t, 256> bytes{};
  for (int c = 'a'; c <= 'z'; ++c) bytes[c] = 2;
  for (int c = 'A'; c <= 'Z'; ++c) bytes[c] = 2;
  for (int c = '0'; c <= '9'; ++c) bytes[c] = 1;
  bytes['_'] = bytes[':'] = 2;
  bytes['-'] = bytes['.'] = 1;
  return bytes;
}();

// Whether all eight bytes of `word` are letters, digits or "_:-.". Each
// range test adds to every byte at once; the sums of ASCII bytes stay within
// their byte, so no test spills into the next one.
bool IsPlainNameWord(uint64_t word) {
  constexpr uint64_t kEveryByte = 0x0101010101010101u;
  constexpr uint64_t kHighBits = 0x8080808080808080u;
  if ((word & kHighBits) != 0) return false;
  // The high bit of each byte: set where the byte lies in [low, high].
  const auto inRange = [](uint64_t bytes, uint8_t low, uint8_t high) {
    return (bytes + kEveryByte * (0x80 - low)) & ~(bytes + kEveryByte * (0x7F - high)) & kHighBits;
  };
  const uint64_t lowerCase = word | kEveryByte * 0x20;
  const uint64_t plain = inRange(lowerCase, 'a', 'z') | inRange(word, '0', ':') |
                         inRange(word, '-', '.') | inRange(word, '_', '_');
  return plain == kHighBits;
}

// Names are checked a word at a time; the last word of a name overlaps the
// one before it.
bool IsPlainName(std::string_view name) {
  const size_t size = name.size();
  if (size == 0 || kPlainNameBytes[static_cast<unsigned char>(name[0])] != 2) return false;
  const char* const data = name.data();
  uint64_t word;
  if (size >= 8) {
    for (size_t at = 0; at + 8 < size; at += 8) {
      std::memcpy(&word, data + at, sizeof(word));
      if (!IsPlainNameWord(word)) return false;
    }
    std::memcpy(&word, data + size - 8, sizeof(word));
    return IsPlainNameWord(word);
  }
  if (size >= 4) {
    uint32_t head, tail;
    std::memcpy(&head, data, sizeof(head));
    std::memcpy(&tail, data + size - 4, sizeof(tail));
    return IsPlainNameWord(head | static_cast<uint64_t>(tail) << 32);
  }
  for (char c : name) {
    if (kPlainNameBytes[static_cast<unsigned char>(c)] == 0) return false;
  }
  return true;
}

// The name as the platform would write it; false when it is not usable. Most
// names are plain and are taken as they are.
bool ToWrittenName(std::string_view stored, std::string_view* name) {
  if (IsPlainName(stored)) {
    *name = stored;
    return true;
  }
  *name = AsPlatformText(stored);
  return IsUsableName(stored, *name);
}

// Long texts are given room a piece at a time, so that none asks for six
// times its size at once. Pieces end before a byte that starts a character.
constexpr size_t kPieceBytes = 64 * 1024;

size_t PieceLength(std::string_view text) {
  if (text.size() <= kPieceBytes) return text.size();
  size_t length = kPieceBytes;
  // Three continuation bytes at most belong to one character.
  for (int step = 0; step < 3 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80; ++step)
    --length;
  return length;
}

// Appends `text` escaped in pieces when XML can carry it as it is; false,
// with `out` as it was, when it cannot.
inline bool AppendIfCarried(std::string_view text, XmlEscaping escaping, XmlOutput* out) {
  const size_t mark = out->size();
  while (!text.empty()) {
    const size_t length = PieceLength(text);
    const char* end = WriteXmlEscapedIfCarried(text.substr(0, length), escaping,
                                               out->Reserve(kMaxEscapedBytesPerByte * length));
    if (end == nullptr) {
      out->Truncate(mark);
      return false;
    }
    out->Commit(end);
    text.remove_prefix(length);
  }
  return true;
}

// Appends `text` escaped; false when it holds a character XML cannot carry.
// Text that the one-pass check does not take, and text that is layout only,
// goes the careful way: as the platform would take it, which throws for
// invalid UTF-8 and cuts at a NUL byte.
bool AppendCarried(std::string_view text, XmlEscaping escaping, XmlOutput* out) {
  if (text.empty()) return true;
  const bool layoutOnly = escaping == XmlEscaping::kText && IsXmlLayoutOnly(text);
  if (!layoutOnly && AppendIfCarried(text, escaping, out)) return true;
  std::string_view kept = AsPlatformText(text);
  if (escaping != XmlEscaping::kText || !IsXmlLayoutOnly(kept))
    return AppendIfCarried(kept, escaping, out);
  while (!kept.empty()) {
    const size_t length = std::min(kept.size(), kPieceBytes);
    out->Commit(WriteXmlEscaped(kept.substr(0, length), escaping, true,
                                out->Reserve(kMaxEscapedBytesPerByte * length)));
    kept.remove_prefix(length);
  }
  return true;
}

// Writes the start tag, or the whole element when it is empty. Returns false
// for what cannot be written; `*open` tells whether an end tag is owed.
bool WriteStart(const XmlNode::XmlNodeImpl& element, XmlOutput* out, bool* open,
                std::string_view* name) {
  if (!ToWrittenName(element.name, name)) return false;
  char* at = out->Reserve(name->size() + 1);
  *at++ = '<';
  out->Commit(CopyXmlBytes(at, name->data(), name->size()));
  // The map's order is the ascending byte order of the names.
  for (const auto& attribute : element.attributes) {
    std::string_view attributeName;
    if (IsPlainName(attribute.first)) {
      attributeName = attribute.first;
    } else {
      // Both strings are converted before either is judged.
      attributeName = AsPlatformText(attribute.first);
      AsPlatformText(attribute.second);
      if (!IsUsableName(attribute.first, attributeName)) return false;
    }
    at = out->Reserve(attributeName.size() + 3);
    *at++ = ' ';
    at = CopyXmlBytes(at, attributeName.data(), attributeName.size());
    *at++ = '=';
    *at++ = '"';
    out->Commit(at);
    if (!AppendCarried(attribute.second, XmlEscaping::kAttribute, out)) return false;
    out->Append("\"");
  }
  const std::string_view stored(element.text.data(), element.text.size());
  const size_t mark = out->size();
  out->Append(">");
  if (!AppendCarried(stored, XmlEscaping::kText, out)) return false;
  // A text cut to nothing at a NUL byte counts as no text.
  *open = out->size() > mark + 1 || !element.children.empty();
  if (!*open) {
    out->Truncate(mark);
    out->Append("/>");
  }
  return true;
}

}  // namespace

bool XmlWriter::Serialise(const XmlNode::XmlNodeImpl& root, XmlOutput* out) {
  out->Truncate(0);
  out->Append(kDeclaration);
  // An explicit stack: documents built by hand may be nested arbitrarily deep.
  std::vector<OpenElement> stack;
  const XmlNode::XmlNodeImpl* next = &root;
  for (;;) {
    if (next != nullptr) {
      bool open = false;
      std::string_view name;
      if (!WriteStart(*next, out, &open, &name)) return false;
      if (open) stack.push_back(OpenElement{next, next->children.begin(), name});
      next = nullptr;
    }
    if (stack.empty()) return true;
    OpenElement& top = stack.back();
    if (top.nextChild != top.element->children.end()) {
      next = top.nextChild->get();
      ++top.nextChild;
    } else {
      char* at = out->Reserve(top.name.size() + 3);
      *at++ = '<';
      *at++ = '/';
      at = CopyXmlBytes(at, top.name.data(), top.name.size());
      *at++ = '>';
      out->Commit(at);
      stack.pop_back();
    }
  }
}
