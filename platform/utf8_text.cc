#include "platform/utf8_text.h"

#include <cstddef>
#include <cstdint>

namespace {

// The length of the well-formed sequence a lead byte starts and the range its
// first continuation byte must lie in; the narrowed ranges exclude overlong
// forms, surrogates and values above U+10FFFF. Length 0 marks a byte that
// cannot start a sequence.
struct LeadByte {
  size_t length;
  uint8_t secondLow;
  uint8_t secondHigh;
};

LeadByte Classify(uint8_t lead) {
  if (lead < 0x80) return {1, 0, 0};
  if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80, 0xBF};
  if (lead == 0xE0) return {3, 0xA0, 0xBF};
  if (lead == 0xED) return {3, 0x80, 0x9F};
  if (lead >= 0xE1 && lead <= 0xEF) return {3, 0x80, 0xBF};
  if (lead == 0xF0) return {4, 0x90, 0xBF};
  if (lead >= 0xF1 && lead <= 0xF3) return {4, 0x80, 0xBF};
  if (lead == 0xF4) return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

}  // namespace

std::string DecodeUtf8Replacing(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    const LeadByte lead = Classify(static_cast<uint8_t>(bytes[i]));
    if (lead.length == 0) {
      text += kReplacementCharacter;
      ++i;
      continue;
    }
    // Count the bytes that still continue a well-formed sequence; a shortfall
    // makes those bytes, lead included, one invalid subpart.
    size_t matched = 1;
    while (matched < lead.length && i + matched < bytes.size()) {
      const uint8_t byte = static_cast<uint8_t>(bytes[i + matched]);
      const uint8_t low = matched == 1 ? lead.secondLow : 0x80;
      const uint8_t high = matched == 1 ? lead.secondHigh : 0xBF;
      if (byte < low || byte > high) break;
      ++matched;
    }
    if (matched == lead.length) {
      text.append(bytes.substr(i, matched));
    } else {
      text += kReplacementCharacter;
    }
    i += matched;
  }
  return text;
}
