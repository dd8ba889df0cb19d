#include "xml/xml_output.h"

#include <cstdlib>
#include <new>

XmlOutput::~XmlOutput() { std::free(data_); }

// Doubling through realloc: a large buffer is moved by remapping its pages,
// not by copying them.
void XmlOutput::Grow(size_t bytes) {
  constexpr size_t kFirstCapacity = 4096;
  size_t capacity = capacity_ == 0 ? kFirstCapacity : capacity_;
  while (bytes > capacity - size_) {
    if (capacity > static_cast<size_t>(-1) / 2) throw std::bad_alloc();
    capacity *= 2;
  }
  char* grown = static_cast<char*>(std::realloc(data_, capacity));
  if (grown == nullptr) throw std::bad_alloc();
  data_ = grown;
  capacity_ = capacity;
}
