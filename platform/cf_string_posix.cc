#include <atomic>
#include <new>
#include <string_view>
#include <vector>

#include "platform/cf_string.h"
#include "platform/utf8_text.h"

// The one object kind of this layer. The count starts at one for the creator.
struct __CFString {
  mutable std::atomic<CFIndex> retainCount{1};
  std::vector<char16_t> units;
};

namespace {

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

CFStringRef CFStringCreateWithCString(const char* utf8) {
  if (utf8 == nullptr) return nullptr;
  __CFString* string = new (std::nothrow) __CFString;
  if (string == nullptr) return nullptr;
  const std::string_view bytes(utf8);
  for (size_t at = 0; at < bytes.size();) {
    const Utf8Sequence sequence = DecodeUtf8Sequence(bytes.substr(at));
    if (!sequence.valid) {
      delete string;
      return nullptr;
    }
    at += sequence.length;
    char32_t code = sequence.codePoint;
    if (code >= 0x10000) {
      code -= 0x10000;
      string->units.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      string->units.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      string->units.push_back(static_cast<char16_t>(code));
    }
  }
  return string;
}

CFIndex CFStringGetLength(CFStringRef string) {
  if (string == nullptr) return 0;
  return static_cast<CFIndex>(string->units.size());
}

CFIndex CFStringGetBytes(CFStringRef string, CFRange range, uint8_t* buffer,
                         CFIndex maxBufferLength, CFIndex* usedBufferLength) {
  CFIndex used = 0;
  CFIndex converted = 0;
  const CFIndex size = CFStringGetLength(string);
  if (string != nullptr && range.location >= 0 && range.length >= 0 && range.location <= size &&
      range.length <= size - range.location) {
    const char16_t* units = string->units.data() + range.location;
    while (converted < range.length) {
      char32_t code = units[converted];
      CFIndex width = 1;
      if (IsHighSurrogate(units[converted]) && converted + 1 < range.length &&
          IsLowSurrogate(units[converted + 1])) {
        code = 0x10000 + ((code - 0xD800) << 10) + (units[converted + 1] - 0xDC00);
        width = 2;
      } else if (IsHighSurrogate(units[converted]) || IsLowSurrogate(units[converted])) {
        // Half a pair, e.g. a range cutting one: no UTF-8 form without loss.
        break;
      }
      uint8_t bytes[4];
      CFIndex count;
      if (code < 0x80) {
        bytes[0] = static_cast<uint8_t>(code);
        count = 1;
      } else if (code < 0x800) {
        bytes[0] = static_cast<uint8_t>(0xC0 | (code >> 6));
        bytes[1] = static_cast<uint8_t>(0x80 | (code & 0x3F));
        count = 2;
      } else if (code < 0x10000) {
        bytes[0] = static_cast<uint8_t>(0xE0 | (code >> 12));
        bytes[1] = static_cast<uint8_t>(0x80 | ((code >> 6) & 0x3F));
        bytes[2] = static_cast<uint8_t>(0x80 | (code & 0x3F));
        count = 3;
      } else {
        bytes[0] = static_cast<uint8_t>(0xF0 | (code >> 18));
        bytes[1] = static_cast<uint8_t>(0x80 | ((code >> 12) & 0x3F));
        bytes[2] = static_cast<uint8_t>(0x80 | ((code >> 6) & 0x3F));
        bytes[3] = static_cast<uint8_t>(0x80 | (code & 0x3F));
        count = 4;
      }
      if (buffer != nullptr) {
        if (count > maxBufferLength - used) break;
        for (CFIndex i = 0; i < count; ++i) buffer[used + i] = bytes[i];
      }
      used += count;
      converted += width;
    }
  }
  if (usedBufferLength != nullptr) *usedBufferLength = used;
  return converted;
}

// Unlike the platform, null is accepted and ignored.
void CFRelease(CFTypeRef object) {
  if (object == nullptr) return;
  const __CFString* string = static_cast<const __CFString*>(object);
  if (string->retainCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete string;
}

