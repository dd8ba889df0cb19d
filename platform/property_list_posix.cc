#include <plist/plist.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/plist_structure_check_posix.h"
#include "platform/property_list.h"
#include "platform/regular_file.h"

namespace {

// Containers nested deeper than this are kept as kOther, which bounds the
// recursion of the conversion below.
constexpr size_t kMaxConvertedDepth = 128;
// What libplist is trusted with; beyond it the file is refused (see
// plist_structure_check_posix.h for why).
constexpr PlistStructureLimits kParseLimits{512, 1 << 20, 64 * 1024 * 1024};

struct PlistDeleter {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistHolder = std::unique_ptr<void, PlistDeleter>;

void Convert(plist_t node, size_t depth, PlistValue* out);

void ConvertArray(plist_t node, size_t depth, PlistValue* out) {
  out->kind = PlistValue::Kind::kArray;
  out->array.reserve(plist_array_get_size(node));
  plist_array_iter iterator = nullptr;
  plist_array_new_iter(node, &iterator);
  for (;;) {
    plist_t item = nullptr;
    plist_array_next_item(node, iterator, &item);
    if (item == nullptr) break;
    out->array.emplace_back();
    Convert(item, depth + 1, &out->array.back());
  }
  free(iterator);
}

void ConvertDictionary(plist_t node, size_t depth, PlistValue* out) {
  out->kind = PlistValue::Kind::kDictionary;
  plist_dict_iter iterator = nullptr;
  plist_dict_new_iter(node, &iterator);
  for (;;) {
    char* key = nullptr;
    plist_t item = nullptr;
    plist_dict_next_item(node, iterator, &key, &item);
    if (item == nullptr) {
      free(key);
      break;
    }
    PlistValue value;
    Convert(item, depth + 1, &value);
    // A repeated key keeps its last value.
    out->dictionary[key != nullptr ? key : ""] = std::move(value);
    free(key);
  }
  free(iterator);
}

void Convert(plist_t node, size_t depth, PlistValue* out) {
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t value = 0;
      plist_get_bool_val(node, &value);
      out->kind = PlistValue::Kind::kBoolean;
      out->number = value != 0 ? 1 : 0;
      break;
    }
    case PLIST_UINT: {
      // libplist keeps every integer in 64 bits without telling whether it was
      // negative; the property-list formats mean signed 64-bit values.
      uint64_t value = 0;
      plist_get_uint_val(node, &value);
      out->kind = PlistValue::Kind::kInteger;
      out->number = static_cast<double>(static_cast<int64_t>(value));
      break;
    }
    case PLIST_REAL:
      out->kind = PlistValue::Kind::kReal;
      plist_get_real_val(node, &out->number);
      break;
    case PLIST_STRING: {
      uint64_t length = 0;
      const char* text = plist_get_string_ptr(node, &length);
      out->kind = PlistValue::Kind::kString;
      if (text != nullptr) out->string.assign(text, static_cast<size_t>(length));
      break;
    }
    case PLIST_ARRAY:
      if (depth < kMaxConvertedDepth) {
        ConvertArray(node, depth, out);
      } else {
        out->kind = PlistValue::Kind::kOther;
      }
      break;
    case PLIST_DICT:
      if (depth < kMaxConvertedDepth) {
        ConvertDictionary(node, depth, out);
      } else {
        out->kind = PlistValue::Kind::kOther;
      }
      break;
    default:
      out->kind = PlistValue::Kind::kOther;
      break;
  }
}

PlistHolder Parse(const std::string& data) {
  plist_t root = nullptr;
  const uint32_t length = static_cast<uint32_t>(data.size());
  if (data.compare(0, 8, "bplist00") == 0) {
    if (BinaryPlistFitsLimits(data, kParseLimits)) plist_from_bin(data.data(), length, &root);
  } else if (XmlPlistNestingFits(data, kParseLimits.maxDepth)) {
    plist_from_xml(data.data(), length, &root);
  }
  return PlistHolder(root);
}

}  // namespace

const PlistValue* PlistValue::Find(const std::string& key) const {
  if (kind != Kind::kDictionary) return nullptr;
  const auto found = dictionary.find(key);
  return found == dictionary.end() ? nullptr : &found->second;
}

bool ReadPropertyListFile(const std::string& path, PlistValue* out) {
  std::string data;
  return ReadRegularFile(path, kMaxPropertyListFileSize, &data) && ParsePropertyList(data, out);
}

bool ParsePropertyList(const std::string& data, PlistValue* out) {
  if (data.empty()) return false;
  const PlistHolder root = Parse(data);
  if (root == nullptr) return false;
  PlistValue value;
  Convert(static_cast<plist_t>(root.get()), 0, &value);
  *out = std::move(value);
  return true;
}
