#include <atomic>
#include <new>
#include <vector>

#include "platform/cf_string.h"

// The one object kind of this layer. The count starts at one for the creator.
struct __CFString {
  mutable std::atomic<CFIndex> retainCount{1};
  std::vector<char16_t> units;
};

namespace {

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes one strictly valid UTF-8 sequence at `p`; returns its length, or 0
// for anything the standard forbids. The bounds of the second byte exclude
// overlong forms, surrogates and code points above U+10FFFF in one test.
int DecodeOne(const unsigned char* p, char32_t* out) {
  unsigned char lead = p[0];
  if (lead < 0x80) {
    *out = lead;
    return 1;
  }
  int length;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  char32_t value;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  // A NUL terminator is not a continuation byte, so truncated input stops here.
  if (p[1] < low || p[1] > high) return 0;
  for (int i = 1; i < length; ++i) {
    if (!IsContinuation(p[i])) return 0;
    value = (value << 6) | (p[i] & 0x3F);
  }
  *out = value;
  return length;
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

CFStringRef CFStringCreateWithCString(const char* utf8) {
  if (utf8 == nullptr) return nullptr;
  __CFString* string = new (std::nothrow) __CFString;
  if (string == nullptr) return nullptr;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8);
  while (*p != 0) {
    char32_t code;
    int length = DecodeOne(p, &code);
    if (length == 0) {
      delete string;
      return nullptr;
    }
    p += length;
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

CFTypeRef CFRetain(CFTypeRef object) {
  if (object == nullptr) return nullptr;
  static_cast<const __CFString*>(object)->retainCount.fetch_add(1, std::memory_order_relaxed);
  return object;
}

// Unlike the platform, null is accepted and ignored.
void CFRelease(CFTypeRef object) {
  if (object == nullptr) return;
  const __CFString* string = static_cast<const __CFString*>(object);
  if (string->retainCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete string;
}

CFIndex CFGetRetainCount(CFTypeRef object) {
  if (object == nullptr) return 0;
  return static_cast<const __CFString*>(object)->retainCount.load(std::memory_order_relaxed);
}
