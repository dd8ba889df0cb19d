#include "platform/plist_structure_check_posix.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kBinaryHeaderSize = 8;
constexpr size_t kBinaryTrailerSize = 32;

uint64_t ReadBigEndian(const std::string& data, uint64_t offset, size_t size) {
  uint64_t value = 0;
  for (size_t i = 0; i < size; ++i) value = (value << 8) | static_cast<uint8_t>(data[offset + i]);
  return value;
}

// What the checker needs to know of one object of a binary plist.
struct BinaryObject {
  bool container = false;
  // A string without NUL characters: the only kind of dictionary key libplist
  // can hand out (it asserts on a key whose length disagrees with strlen).
  bool validKey = false;
  uint64_t refsOffset = 0;
  uint64_t refCount = 0;
  uint64_t keyRefs = 0;  // leading references that name dictionary keys
  uint64_t textBytes = 0;
};

// Sizes of the expanded tree below an object, the object included.
struct TreeSize {
  uint32_t height = 0;  // containers on the longest path down
  uint32_t values = 0;
  uint32_t textBytes = 0;
};

class BinaryPlistChecker {
 public:
  BinaryPlistChecker(const std::string& data, const PlistStructureLimits& limits)
      : data_(data), limits_(limits) {}

  bool Check();

 private:
  enum State : uint8_t { kUnvisited, kActive, kDone };

  struct Frame {
    uint64_t index;
    BinaryObject object;
    uint64_t nextRef = 0;
    uint64_t values = 0;
    uint64_t textBytes = 0;
    uint32_t height = 0;
  };

  bool ReadTrailer();
  bool Describe(uint64_t index, BinaryObject* object) const;
  bool Add(const TreeSize& child, Frame* parent) const;

  const std::string& data_;
  PlistStructureLimits limits_;
  size_t offsetSize_ = 0;
  size_t refSize_ = 0;
  uint64_t objectCount_ = 0;
  uint64_t rootIndex_ = 0;
  uint64_t tableOffset_ = 0;
};

bool BinaryPlistChecker::ReadTrailer() {
  if (data_.size() < kBinaryHeaderSize + kBinaryTrailerSize) return false;
  if (data_.compare(0, kBinaryHeaderSize, "bplist00") != 0) return false;
  const uint64_t trailer = data_.size() - kBinaryTrailerSize;
  offsetSize_ = static_cast<uint8_t>(data_[trailer + 6]);
  refSize_ = static_cast<uint8_t>(data_[trailer + 7]);
  objectCount_ = ReadBigEndian(data_, trailer + 8, 8);
  rootIndex_ = ReadBigEndian(data_, trailer + 16, 8);
  tableOffset_ = ReadBigEndian(data_, trailer + 24, 8);
  if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return false;
  // Bounding the object count by the value limit also bounds the bookkeeping
  // allocated below, whatever the trailer claims.
  if (objectCount_ == 0 || objectCount_ > limits_.maxValues) return false;
  if (rootIndex_ >= objectCount_) return false;
  if (tableOffset_ < kBinaryHeaderSize || tableOffset_ > trailer) return false;
  return objectCount_ <= (trailer - tableOffset_) / offsetSize_;
}

bool BinaryPlistChecker::Describe(uint64_t index, BinaryObject* object) const {
  const uint64_t offset = ReadBigEndian(data_, tableOffset_ + index * offsetSize_, offsetSize_);
  if (offset < kBinaryHeaderSize || offset >= tableOffset_) return false;
  const uint8_t marker = static_cast<uint8_t>(data_[offset]);
  const uint8_t type = marker >> 4;
  uint64_t count = marker & 0x0f;
  uint64_t position = offset + 1;
  const bool counted = (type >= 0x4 && type <= 0x7) || (type >= 0xa && type <= 0xd);
  if (counted && count == 0x0f) {
    // The count follows as an integer object of 1, 2, 4 or 8 bytes.
    if (position >= tableOffset_) return false;
    const uint8_t countMarker = static_cast<uint8_t>(data_[position]);
    if ((countMarker >> 4) != 0x1 || (countMarker & 0x0f) > 3) return false;
    const size_t countSize = size_t{1} << (countMarker & 0x0f);
    if (countSize > tableOffset_ - position - 1) return false;
    count = ReadBigEndian(data_, position + 1, countSize);
    position += 1 + countSize;
  }
  const uint64_t room = tableOffset_ - position;
  *object = BinaryObject();
  switch (type) {
    case 0x4:  // data
      if (count > room) return false;
      object->textBytes = count;
      break;
    case 0x5:  // ASCII string
    case 0x7:  // UTF-8 string
      if (count > room) return false;
      object->textBytes = count;
      object->validKey = std::memchr(data_.data() + position, '\0', count) == nullptr;
      break;
    case 0x6:  // UTF-16 string, up to three UTF-8 bytes per unit
      if (count > room / 2) return false;
      object->textBytes = count * 3;
      object->validKey = true;
      for (uint64_t unit = 0; unit < count; ++unit) {
        if (ReadBigEndian(data_, position + 2 * unit, 2) == 0) object->validKey = false;
      }
      break;
    case 0xa:  // array
    case 0xb:  // ordered set
    case 0xc:  // set
      if (count > room / refSize_) return false;
      object->container = true;
      object->refsOffset = position;
      object->refCount = count;
      break;
    case 0xd:  // dictionary: the key references, then the value references
      if (count > room / refSize_ / 2) return false;
      object->container = true;
      object->refsOffset = position;
      object->refCount = count * 2;
      object->keyRefs = count;
      break;
    default:
      break;
  }
  return true;
}

bool BinaryPlistChecker::Add(const TreeSize& child, Frame* parent) const {
  parent->values += child.values;
  parent->textBytes += child.textBytes;
  parent->height = std::max(parent->height, child.height);
  return parent->values < limits_.maxValues && parent->textBytes <= limits_.maxTextBytes;
}

bool BinaryPlistChecker::Check() {
  if (!ReadTrailer()) return false;
  limits_.maxValues = std::min<size_t>(limits_.maxValues, UINT32_MAX);
  limits_.maxTextBytes = std::min<size_t>(limits_.maxTextBytes, UINT32_MAX);

  BinaryObject root;
  if (!Describe(rootIndex_, &root)) return false;
  if (!root.container) return root.textBytes <= limits_.maxTextBytes;
  if (limits_.maxDepth == 0) return false;

  // Depth-first over the reference graph with an explicit stack, remembering
  // each finished object so shared ones are measured once: the work stays
  // proportional to the file, not to the expanded tree.
  std::vector<uint8_t> state(objectCount_, kUnvisited);
  std::vector<uint8_t> validKeys(objectCount_, 0);
  std::vector<TreeSize> sizes(objectCount_);
  std::vector<Frame> stack;
  state[rootIndex_] = kActive;
  stack.push_back(Frame{rootIndex_, root});
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.nextRef < top.object.refCount) {
      const uint64_t child =
          ReadBigEndian(data_, top.object.refsOffset + top.nextRef * refSize_, refSize_);
      const bool isKey = top.nextRef < top.object.keyRefs;
      ++top.nextRef;
      if (child >= objectCount_ || state[child] == kActive) return false;
      if (state[child] == kDone) {
        if ((isKey && !validKeys[child]) || !Add(sizes[child], &top)) return false;
        continue;
      }
      BinaryObject object;
      if (!Describe(child, &object) || (isKey && !object.validKey)) return false;
      if (!object.container) {
        if (object.textBytes > limits_.maxTextBytes) return false;
        sizes[child] = TreeSize{0, 1, static_cast<uint32_t>(object.textBytes)};
        validKeys[child] = object.validKey;
        state[child] = kDone;
        if (!Add(sizes[child], &top)) return false;
        continue;
      }
      if (stack.size() >= limits_.maxDepth) return false;
      state[child] = kActive;
      stack.push_back(Frame{child, object});  // `top` is not used past this point
      continue;
    }
    const TreeSize finished{top.height + 1, static_cast<uint32_t>(top.values + 1),
                            static_cast<uint32_t>(top.textBytes)};
    const uint64_t index = top.index;
    stack.pop_back();
    sizes[index] = finished;
    state[index] = kDone;
    if (!stack.empty() && !Add(finished, &stack.back())) return false;
  }
  return true;
}

bool IsXmlNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '.' || c == ':';
}

// "array" or "dict" as a whole tag name starting at `position`.
bool IsContainerName(const std::string& text, size_t position) {
  for (const char* name : {"array", "dict"}) {
    const size_t length = std::strlen(name);
    if (text.compare(position, length, name) == 0 &&
        (position + length == text.size() || !IsXmlNameChar(text[position + length])))
      return true;
  }
  return false;
}

// Whether the tag whose name starts at `position` ends in "/>". Anything
// unusual before its end (a quote, another '<', the end of the text) makes it
// count as an opening tag. The scan stops at the next '<', so the whole pass
// stays linear.
bool IsSelfClosingTag(const std::string& text, size_t position) {
  for (size_t i = position; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '>') return i > position && text[i - 1] == '/';
    if (c == '<' || c == '"' || c == '\'') return false;
  }
  return false;
}

size_t EndOfRegion(const std::string& text, size_t from, const char* terminator) {
  const size_t found = text.find(terminator, from);
  return found == std::string::npos ? text.size() : found + std::strlen(terminator);
}

// End of a "<!" declaration such as the DOCTYPE: the first '>' outside quotes.
// Taking the longest reading of the declaration only ever skips more closing
// tags, never fewer.
size_t EndOfDeclaration(const std::string& text, size_t from, bool* hasSubset) {
  char quote = 0;
  for (size_t i = from; i < text.size(); ++i) {
    const char c = text[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '[') {
      *hasSubset = true;
    } else if (c == '>') {
      return i + 1;
    }
  }
  return text.size();
}

}  // namespace

bool BinaryPlistFitsLimits(const std::string& data, const PlistStructureLimits& limits) {
  return BinaryPlistChecker(data, limits).Check();
}

bool XmlPlistNestingFits(const std::string& text, size_t maxDepth) {
  size_t depth = 0;
  size_t regionEnd = 0;  // end of the comment, CDATA section or declaration being skipped
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '<') continue;
    if (i >= regionEnd) {
      if (text.compare(i, 4, "<!--") == 0) {
        regionEnd = EndOfRegion(text, i + 4, "-->");
        continue;
      }
      if (text.compare(i, 9, "<![CDATA[") == 0) {
        regionEnd = EndOfRegion(text, i + 9, "]]>");
        continue;
      }
      if (text.compare(i, 2, "<?") == 0) {
        regionEnd = EndOfRegion(text, i + 2, "?>");
        continue;
      }
      if (text.compare(i, 2, "<!") == 0) {
        // An internal subset could be read as ending elsewhere; plists have none.
        bool hasSubset = false;
        regionEnd = EndOfDeclaration(text, i + 2, &hasSubset);
        if (hasSubset) return false;
        continue;
      }
      if (i + 1 < text.size() && text[i + 1] == '/' && IsContainerName(text, i + 2)) {
        if (depth > 0) --depth;
        continue;
      }
    }
    if (IsContainerName(text, i + 1) && !IsSelfClosingTag(text, i + 1) && ++depth > maxDepth)
      return false;
  }
  return true;
}
