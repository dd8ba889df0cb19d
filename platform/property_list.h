// Property-list values read from files in the XML or the binary format.
#ifndef SKIFF_PLATFORM_PROPERTY_LIST_H_
#define SKIFF_PLATFORM_PROPERTY_LIST_H_

#include <cstddef>
#include <map>
#include <string>
#include <vector>

class PlistValue {
 public:
  enum class Kind { kNone, kString, kInteger, kReal, kBoolean, kArray, kDictionary, kOther };

  Kind kind = Kind::kNone;
  std::string string;
  double number = 0;  // integers, reals and booleans (1 or 0)
  std::vector<PlistValue> array;
  std::map<std::string, PlistValue> dictionary;

  bool IsString() const { return kind == Kind::kString; }
  // Booleans, integers and reals are all numbers, as the platform's number
  // objects are.
  bool IsNumber() const {
    return kind == Kind::kInteger || kind == Kind::kReal || kind == Kind::kBoolean;
  }
  bool BoolValue() const { return IsNumber() && number != 0; }
  // The value stored under `key` in a dictionary, or null.
  const PlistValue* Find(const std::string& key) const;
};

// The largest property-list file that is read.
constexpr size_t kMaxPropertyListFileSize = 16 * 1024 * 1024;

// Reads a property-list file in either format. Returns false (leaving `out`
// unchanged) for a missing, unreadable, oversized or malformed file.
bool ReadPropertyListFile(const std::string& path, PlistValue* out);

// The same for the bytes of a file already read.
bool ParsePropertyList(const std::string& data, PlistValue* out);

#endif  // SKIFF_PLATFORM_PROPERTY_LIST_H_
