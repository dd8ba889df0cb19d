#include "xml/xml_output.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/durable_file.h"

XmlOutput::~XmlOutput() { std::free(data_); }

// Doubling. The buffer is aligned for a direct write to the disk when the
// document is saved.
void XmlOutput::Grow(size_t bytes) {
  constexpr size_t kFirstCapacity = kDirectWriteAlignment;
  size_t capacity = capacity_ == 0 ? kFirstCapacity : capacity_;
  while (bytes > capacity - size_) {
    if (capacity > static_cast<size_t>(-1) / 2) throw std::bad_alloc();
    capacity *= 2;
  }
  char* grown = static_cast<char*>(std::aligned_alloc(kDirectWriteAlignment, capacity));
  if (grown == nullptr) throw std::bad_alloc();
  if (size_ != 0) std::memcpy(grown, data_, size_);
  std::free(data_);
  data_ = grown;
  capacity_ = capacity;
}
