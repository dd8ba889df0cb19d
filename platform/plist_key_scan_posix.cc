#include "platform/plist_key_scan_posix.h"

#include <string>

namespace {

bool Holds(const std::string& data, const std::string& part) {
  return data.find(part) != std::string::npos;
}

std::string Utf16BigEndian(const std::string& ascii) {
  std::string wide;
  for (char c : ascii) {
    wide += '\0';
    wide += c;
  }
  return wide;
}

}  // namespace

bool PlistMayHoldKey(const std::string& data, const std::string& key) {
  if (Holds(data, key)) return true;
  if (data.compare(0, 8, "bplist00") == 0) return Holds(data, Utf16BigEndian(key));
  return data.find_first_of(std::string("&\0", 2)) != std::string::npos || Holds(data, "<!--") ||
         Holds(data, "<![CDATA[");
}
