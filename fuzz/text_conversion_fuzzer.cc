// Runs arbitrary bytes through the text conversions: UTF-8 repair (also
// checked piece by piece), the conversions to and from platform strings, and file URLs. Each must
// give back what it was handed whenever that was valid to begin with.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/cf_string.h"
#include "platform/file_url.h"
#include "platform/mac_utils.h"
#include "platform/utf8_text.h"

namespace {

// The conversion to a platform string, there and back. False when the text
// (up to its first NUL) is not UTF-8.
bool RoundTrip(const std::string& text, std::string* back) {
  CFStringRef string = nullptr;
  try {
    string = MacUtils::StdStringToCFString(text);
  } catch (const std::runtime_error&) {
    return false;
  }
  const MacUtils::CFTypeReleaser releaser(string);
  *back = MacUtils::CFStringToStdString(string);
  return true;
}

std::string Repaired(std::string text) {
  ReplaceInvalidUtf8(text);
  return text;
}

void CheckConversions(const std::string& bytes) {
  const std::string text = bytes.substr(0, bytes.find('\0'));
  std::string back;
  const bool valid = RoundTrip(bytes, &back);
  if (valid && back != text) std::abort();

  // The repaired text is always UTF-8, and valid text is left alone.
  const std::string repaired = Repaired(bytes);
  if (valid && repaired.compare(0, repaired.find('\0'), text) != 0) std::abort();
  if (!RoundTrip(repaired, &back) || back != repaired.substr(0, repaired.find('\0'))) std::abort();
  if (Repaired(repaired) != repaired) std::abort();

  // Checked in pieces as a capture reads them, the bytes are found valid as
  // far as when checked whole; repairing from there gives the same text.
  const size_t whole = EndOfValidUtf8(bytes, 0);
  size_t checked = 0;
  for (size_t end = 0; end < bytes.size();) {
    end += 1 + static_cast<uint8_t>(bytes[end]) % 7;
    checked =
        EndOfValidUtf8(std::string_view(bytes).substr(0, std::min(end, bytes.size())), checked);
  }
  if (checked != whole) std::abort();
  std::string fromValid = bytes;
  ReplaceInvalidUtf8(fromValid, checked);
  if (fromValid != repaired) std::abort();
}

void CheckFileUrls(const std::string& bytes) {
  std::string path;
  if (PathFromFileUrlString(bytes, &path)) {
    // A decoded path encodes to a URL that decodes to it again.
    std::string again;
    if (path.empty() || path[0] != '/') std::abort();
    if (!PathFromFileUrlString(FileUrlStringFromPath(path, false), &again) || again != path)
      std::abort();
  }
  const std::string absolute = "/" + bytes;
  for (const bool isDirectory : {false, true}) {
    const std::string url = FileUrlStringFromPath(absolute, isDirectory);
    if (url.compare(0, 8, "file:///") != 0) std::abort();
    if (!PathFromFileUrlString(url, &path)) std::abort();
    const size_t last = absolute.find_last_not_of('/');
    if (path != absolute.substr(0, last == std::string::npos ? 1 : last + 1)) std::abort();
  }
  if (!FileUrlStringFromPath(bytes, false).empty() && (bytes.empty() || bytes[0] != '/'))
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  CheckConversions(bytes);
  CheckFileUrls(bytes);
  return 0;
}
