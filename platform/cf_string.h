// A minimal stand-in for the CoreFoundation string object: reference counted,
// holding UTF-16 code units as the platform's strings do. Only what the
// string conversions and the XML layer need is here.
#ifndef SKIFF_PLATFORM_CF_STRING_H_
#define SKIFF_PLATFORM_CF_STRING_H_

#include <cstdint>

typedef const void* CFTypeRef;
typedef long CFIndex;
struct __CFString;
typedef const __CFString* CFStringRef;

struct CFRange {
  CFIndex location;
  CFIndex length;
};

// Creates a string from NUL-terminated UTF-8. Returns null when the bytes are
// not valid UTF-8 (overlong forms, surrogates, code points above U+10FFFF,
// stray or missing continuation bytes). The caller owns the result.
CFStringRef CFStringCreateWithCString(const char* utf8);

// Length in UTF-16 code units.
CFIndex CFStringGetLength(CFStringRef string);

// Converts the UTF-16 units in `range` to UTF-8. With a null `buffer` only
// measures. Returns the number of UTF-16 units converted (a unit that would not
// fit in `maxBufferLength` stops the conversion); `usedBufferLength`, when not
// null, receives the number of bytes produced.
CFIndex CFStringGetBytes(CFStringRef string, CFRange range, uint8_t* buffer,
                         CFIndex maxBufferLength, CFIndex* usedBufferLength);

void CFRelease(CFTypeRef object);

#endif  // SKIFF_PLATFORM_CF_STRING_H_
