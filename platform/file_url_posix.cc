#include <cstring>
#include <string>

#include "platform/file_url.h"

namespace {

constexpr char kScheme[] = "file://";
constexpr char kHexDigits[] = "0123456789ABCDEF";

// Bytes a URL path may hold as they are; every other byte is escaped.
bool IsPlainPathByte(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  return c != '\0' && std::strchr("-._~!$&'()*+,=:@/", c) != nullptr;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string PercentEncode(const std::string& path) {
  std::string encoded;
  encoded.reserve(path.size());
  for (const char byte : path) {
    const unsigned char c = static_cast<unsigned char>(byte);
    if (IsPlainPathByte(c)) {
      encoded += byte;
    } else {
      encoded += '%';
      encoded += kHexDigits[c >> 4];
      encoded += kHexDigits[c & 0x0f];
    }
  }
  return encoded;
}

}  // namespace

std::string FileUrlStringFromPath(const std::string& path, bool isDirectory) {
  if (path.empty() || path[0] != '/') return std::string();
  std::string url = kScheme + PercentEncode(path);
  if (isDirectory && path.back() != '/') url += '/';
  return url;
}

bool PathFromFileUrlString(const std::string& url, std::string* path) {
  const size_t schemeLength = sizeof(kScheme) - 1;
  if (url.compare(0, schemeLength, kScheme) != 0 || url.size() <= schemeLength ||
      url[schemeLength] != '/')
    return false;
  // A query or a fragment is not part of the path.
  const size_t end = url.find_first_of("?#", schemeLength);
  const size_t stop = end == std::string::npos ? url.size() : end;
  std::string decoded;
  decoded.reserve(stop - schemeLength);
  for (size_t i = schemeLength; i < stop; ++i) {
    if (url[i] != '%') {
      decoded += url[i];
      continue;
    }
    const int high = i + 2 < stop ? HexValue(url[i + 1]) : -1;
    const int low = high >= 0 ? HexValue(url[i + 2]) : -1;
    if (low < 0) return false;
    decoded += static_cast<char>(high * 16 + low);
    i += 2;
  }
  const size_t last = decoded.find_last_not_of('/');
  decoded.erase(last == std::string::npos ? 1 : last + 1);
  *path = decoded;
  return true;
}
