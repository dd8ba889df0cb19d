#include "platform/mac_utils.h"

#include <stdexcept>
#include <vector>

#include "platform/utf8_text.h"

namespace MacUtils {

namespace {

constexpr char kConversionFailure[] = "Unable to convert std::string to CFString.";

std::string_view UpToFirstNul(std::string_view text) { return text.substr(0, text.find('\0')); }

}  // namespace

CFStringRef StdStringToCFString(const std::string& text) {
  CFStringRef result = CFStringCreateWithCString(text.c_str());
  if (result == nullptr) throw std::runtime_error(kConversionFailure);
  return result;
}

bool IsConvertible(std::string_view text) { return IsValidUtf8(UpToFirstNul(text)); }

std::string_view ConvertibleText(std::string_view text) {
  const std::string_view kept = UpToFirstNul(text);
  if (!IsValidUtf8(kept)) throw std::runtime_error(kConversionFailure);
  return kept;
}

std::string CFStringToStdString(CFStringRef string) {
  const CFIndex length = CFStringGetLength(string);
  if (length == 0) return std::string();
  const CFRange range = {0, length};
  CFIndex needed = 0;
  if (CFStringGetBytes(string, range, nullptr, 0, &needed) == 0)
    throw std::runtime_error("Unable to get length of CFStringRef in conversion to std::string");
  std::vector<uint8_t> buffer(static_cast<size_t>(needed), 0);
  CFIndex written = 0;
  if (CFStringGetBytes(string, range, buffer.data(), needed, &written) == 0)
    throw std::runtime_error(
        "Unable to extract UTF8 from CFStringRef in conversion to std::string");
  if (written != needed)
    throw std::runtime_error(
        "Extracted UTF8 length mismatch converting from CFStringRef to std::string");
  return std::string(buffer.begin(), buffer.end());
}

CFTypeReleaser::~CFTypeReleaser() {
  if (object_ != nullptr) {
    CFRelease(object_);
    object_ = nullptr;
  }
}

}  // namespace MacUtils
