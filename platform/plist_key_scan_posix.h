// A test made on the bytes of a property-list file before it is parsed:
// whether a key can appear in it at all. Most application Info.plists lack
// the keys the registry looks for, and skipping their parse is most of the
// cost of a search.
#ifndef SKIFF_PLATFORM_PLIST_KEY_SCAN_POSIX_H_
#define SKIFF_PLATFORM_PLIST_KEY_SCAN_POSIX_H_

#include <string>

// False only when no dictionary of the file, as ParsePropertyList reads it,
// can hold the ASCII `key`. A "bplist00" file must then hold the key's bytes
// neither as ASCII nor as UTF-16; any other file, read as XML, must not hold
// them and must have nothing that could spell them otherwise: no reference
// ("&"), comment, CDATA section or NUL byte (a UTF-16 text).
bool PlistMayHoldKey(const std::string& data, const std::string& key);

#endif  // SKIFF_PLATFORM_PLIST_KEY_SCAN_POSIX_H_
