// The bytes of a document being written. A piece of known largest size is
// given room once and then written through a pointer, without a check per
// byte or a call per piece.
#ifndef SKIFF_XML_XML_OUTPUT_H_
#define SKIFF_XML_XML_OUTPUT_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

// Copies between sizeof(Word) and twice as many bytes as two words that may
// overlap.
template <typename Word>
void CopyHeadAndTail(char* out, const char* from, size_t size) {
  Word head, tail;
  std::memcpy(&head, from, sizeof(head));
  std::memcpy(&tail, from + size - sizeof(tail), sizeof(tail));
  std::memcpy(out, &head, sizeof(head));
  std::memcpy(out + size - sizeof(tail), &tail, sizeof(tail));
}

// Copies `size` bytes to `out` and returns the end. Most pieces of a document
// are a few bytes long: those are copied without a call.
inline char* CopyXmlBytes(char* out, const char* from, size_t size) {
  if (size > 16) {
    std::memcpy(out, from, size);
  } else if (size >= 8) {
    CopyHeadAndTail<uint64_t>(out, from, size);
  } else if (size >= 4) {
    CopyHeadAndTail<uint32_t>(out, from, size);
  } else {
    for (size_t i = 0; i < size; ++i) out[i] = from[i];
  }
  return out + size;
}

class XmlOutput {
 public:
  XmlOutput() = default;
  ~XmlOutput();
  XmlOutput(const XmlOutput&) = delete;
  XmlOutput& operator=(const XmlOutput&) = delete;

  // Room for `bytes` more after what is written; valid until the next call
  // that grows the output. Throws std::bad_alloc.
  char* Reserve(size_t bytes) {
    if (bytes > capacity_ - size_) Grow(bytes);
    return data_ + size_;
  }
  // Takes everything up to `end`, a pointer into the room last reserved.
  void Commit(const char* end) { size_ = static_cast<size_t>(end - data_); }

  void Append(std::string_view bytes) {
    CopyXmlBytes(Reserve(bytes.size()), bytes.data(), bytes.size());
    size_ += bytes.size();
  }

  size_t size() const { return size_; }
  // Drops what was written after the first `size` bytes.
  void Truncate(size_t size) { size_ = size; }
  std::string_view view() const { return std::string_view(data_, size_); }

 private:
  void Grow(size_t bytes);

  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

#endif  // SKIFF_XML_XML_OUTPUT_H_
