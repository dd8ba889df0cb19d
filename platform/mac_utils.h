// Conversion between UTF-8 standard strings and platform strings, and
// single-release ownership of platform objects.
#ifndef SKIFF_PLATFORM_MAC_UTILS_H_
#define SKIFF_PLATFORM_MAC_UTILS_H_

#include <string>
#include <string_view>

#include "platform/cf_string.h"

namespace MacUtils {

// Returns a new string the caller owns. Throws std::runtime_error
// "Unable to convert std::string to CFString." for invalid UTF-8. The text is
// taken up to its first NUL byte.
CFStringRef StdStringToCFString(const std::string& text);

// Whether StdStringToCFString accepts `text`: its bytes up to the first NUL
// are valid UTF-8. No platform string is made.
bool IsConvertible(std::string_view text);

// The bytes a platform string made from `text` would give back: those up to
// the first NUL. Throws StdStringToCFString's std::runtime_error when
// IsConvertible is false. No platform string is made and nothing is copied.
std::string_view ConvertibleText(std::string_view text);

// Returns the UTF-8 bytes of the whole string; does not release it.
std::string CFStringToStdString(CFStringRef string);

// Takes over one reference its creator already owns and releases it once.
class CFTypeReleaser {
 public:
  explicit CFTypeReleaser(CFTypeRef object) : object_(object) {}
  ~CFTypeReleaser();
  CFTypeReleaser(const CFTypeReleaser&) = delete;
  CFTypeReleaser& operator=(const CFTypeReleaser&) = delete;

 private:
  CFTypeRef object_;
};

}  // namespace MacUtils

#endif  // SKIFF_PLATFORM_MAC_UTILS_H_
