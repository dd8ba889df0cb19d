#include "platform/utf8_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// The length of the well-formed sequence a lead byte starts, the bits it
// contributes and the range its first continuation byte must lie in; the
// narrowed ranges exclude overlong forms, surrogates and values above
// U+10FFFF. Length 0 marks a byte that cannot start a sequence.
struct LeadByte {
  size_t length;
  char32_t bits;
  uint8_t secondLow;
  uint8_t secondHigh;
};

LeadByte Classify(uint8_t lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return {2, lead & 0x1Fu, 0x80, 0xBF};
  if (lead == 0xE0) return {3, lead & 0x0Fu, 0xA0, 0xBF};
  if (lead == 0xED) return {3, lead & 0x0Fu, 0x80, 0x9F};
  if (lead >= 0xE1 && lead <= 0xEF) return {3, lead & 0x0Fu, 0x80, 0xBF};
  if (lead == 0xF0) return {4, lead & 0x07u, 0x90, 0xBF};
  if (lead >= 0xF1 && lead <= 0xF3) return {4, lead & 0x07u, 0x80, 0xBF};
  if (lead == 0xF4) return {4, lead & 0x07u, 0x80, 0x8F};
  return {0, 0, 0, 0};
}

bool IsAscii(char c) { return static_cast<uint8_t>(c) < 0x80; }

// Whether the `Words` eight-byte words at `p` are all ASCII.
template <size_t Words>
bool AreAscii(const char* p) {
  uint64_t words[Words];
  std::memcpy(words, p, sizeof(words));
  uint64_t any = 0;
  for (uint64_t word : words) any |= word;
  return (any & 0x8080808080808080u) == 0;
}

}  // namespace

Utf8Sequence DecodeUtf8Sequence(std::string_view bytes) {
  const uint8_t first = static_cast<uint8_t>(bytes[0]);
  if (first < 0x80) return {1, true, first};
  const LeadByte lead = Classify(first);
  if (lead.length == 0) return {1, false, 0};
  // Count the bytes that still continue a well-formed sequence; a shortfall
  // makes those bytes, lead included, one invalid subpart.
  char32_t value = lead.bits;
  size_t matched = 1;
  while (matched < lead.length && matched < bytes.size()) {
    const uint8_t byte = static_cast<uint8_t>(bytes[matched]);
    const uint8_t low = matched == 1 ? lead.secondLow : 0x80;
    const uint8_t high = matched == 1 ? lead.secondHigh : 0xBF;
    if (byte < low || byte > high) break;
    value = (value << 6) | (byte & 0x3Fu);
    ++matched;
  }
  if (matched < lead.length) return {matched, false, 0};
  return {matched, true, value};
}

bool IsValidUtf8(std::string_view bytes) { return EndOfValidUtf8(bytes, 0) == bytes.size(); }

// Text is mostly ASCII, which is passed over 64 bytes at a time (a command's
// output may be a hundred megabytes), then eight.
size_t EndOfValidUtf8(std::string_view bytes, size_t from) {
  size_t at = from;
  while (at < bytes.size()) {
    if (bytes.size() - at >= 64 && AreAscii<8>(bytes.data() + at)) {
      at += 64;
      continue;
    }
    if (bytes.size() - at >= 8 && AreAscii<1>(bytes.data() + at)) {
      at += 8;
      continue;
    }
    if (IsAscii(bytes[at])) {
      ++at;
      continue;
    }
    const Utf8Sequence sequence = DecodeUtf8Sequence(bytes.substr(at));
    if (!sequence.valid) break;
    at += sequence.length;
  }
  return at;
}

void ReplaceInvalidUtf8(std::string& text, size_t validBytes) {
  const size_t firstInvalid = EndOfValidUtf8(text, std::min(validBytes, text.size()));
  if (firstInvalid == text.size()) return;
  // A replacement is never shorter than the subpart it stands for, so the
  // text only grows: measure by how much, move the rest to the end of the
  // grown string and rewrite it front to back, the write position never
  // passing the read position.
  size_t growth = 0;
  for (size_t at = firstInvalid; at < text.size();) {
    const Utf8Sequence sequence = DecodeUtf8Sequence(std::string_view(text).substr(at));
    if (!sequence.valid) growth += sizeof(kReplacementCharacter) - 1 - sequence.length;
    at += sequence.length;
  }
  const size_t oldSize = text.size();
  text.resize(oldSize + growth);
  char* data = &text[0];
  std::memmove(data + firstInvalid + growth, data + firstInvalid, oldSize - firstInvalid);
  const std::string_view grown(data, text.size());
  size_t write = firstInvalid;
  size_t read = firstInvalid + growth;
  while (read < grown.size()) {
    const size_t runEnd = EndOfValidUtf8(grown, read);
    std::memmove(data + write, data + read, runEnd - read);
    write += runEnd - read;
    read = runEnd;
    if (read == grown.size()) break;
    read += DecodeUtf8Sequence(grown.substr(read)).length;
    std::memcpy(data + write, kReplacementCharacter, sizeof(kReplacementCharacter) - 1);
    write += sizeof(kReplacementCharacter) - 1;
  }
}
