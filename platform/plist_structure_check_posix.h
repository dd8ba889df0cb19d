// Structural checks made on property-list bytes before libplist parses them.
// libplist's parsers and its destructor recurse once per nesting level, and its
// binary reader expands an object once per reference to it, so a small hostile
// file could otherwise exhaust the stack or the memory; and libplist aborts the
// process on a dictionary key holding a NUL character.
#ifndef SKIFF_PLATFORM_PLIST_STRUCTURE_CHECK_POSIX_H_
#define SKIFF_PLATFORM_PLIST_STRUCTURE_CHECK_POSIX_H_

#include <cstddef>
#include <string>

struct PlistStructureLimits {
  size_t maxDepth;      // arrays, sets and dictionaries nested inside one another
  size_t maxValues;     // values of the fully expanded tree, containers included
  size_t maxTextBytes;  // string and data bytes of the fully expanded tree
};

// True when `data` is a "bplist00" file whose trailer, offset table and object
// references are consistent, whose references form no cycle, whose dictionary
// keys are all strings without NUL characters, and whose tree, with every
// shared object expanded, stays within `limits`.
bool BinaryPlistFitsLimits(const std::string& data, const PlistStructureLimits& limits);

// True when no point of the XML text lies inside more than `maxDepth` array or
// dict elements. Errs on the side of refusing: an opening tag counts even
// inside a comment or a CDATA section, a closing tag only outside them.
bool XmlPlistNestingFits(const std::string& text, size_t maxDepth);

#endif  // SKIFF_PLATFORM_PLIST_STRUCTURE_CHECK_POSIX_H_
