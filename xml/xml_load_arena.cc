#include "xml/xml_load_arena.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <new>

namespace {

// Small documents still get a block worth having; a first block is never
// larger than the largest document a load takes.
constexpr size_t kSmallestBlock = 16 * 1024;
constexpr size_t kLargestFirstBlock = 64 * 1024 * 1024;

}  // namespace

XmlLoadArena::XmlLoadArena(size_t firstBlockBytes)
    : nextBlockBytes_(std::clamp(firstBlockBytes, kSmallestBlock, kLargestFirstBlock)) {}

XmlLoadArena::~XmlLoadArena() {
  for (const Block& block : blocks_) ::operator delete(block.start);
}

void intrusive_ptr_add_ref(XmlLoadArena* arena) {
  arena->references_.fetch_add(1, std::memory_order_relaxed);
}

void intrusive_ptr_release(XmlLoadArena* arena) {
  if (arena->references_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete arena;
}

void* XmlLoadArena::do_allocate(size_t bytes, size_t alignment) {
  if (sealed_) return ::operator new(bytes, std::align_val_t(alignment));
  const uintptr_t next = reinterpret_cast<uintptr_t>(next_);
  const uintptr_t aligned = (next + alignment - 1) & ~(uintptr_t(alignment) - 1);
  if (next_ != nullptr && aligned <= reinterpret_cast<uintptr_t>(end_) &&
      bytes <= static_cast<size_t>(reinterpret_cast<uintptr_t>(end_) - aligned)) {
    next_ = reinterpret_cast<char*>(aligned + bytes);
    return reinterpret_cast<void*>(aligned);
  }
  // Each block is twice the last, so a load needs only a few of them.
  const size_t size = std::max(nextBlockBytes_, bytes + alignment);
  blocks_.reserve(blocks_.size() + 1);
  char* start = static_cast<char*>(::operator new(size));
  blocks_.push_back(Block{start, size});
  nextBlockBytes_ = size * 2;
  const uintptr_t first =
      (reinterpret_cast<uintptr_t>(start) + alignment - 1) & ~(uintptr_t(alignment) - 1);
  next_ = reinterpret_cast<char*>(first + bytes);
  end_ = start + size;
  return reinterpret_cast<void*>(first);
}

// Room inside a block is given back with the block.
void XmlLoadArena::do_deallocate(void* pointer, size_t, size_t alignment) {
  if (!Owns(pointer)) ::operator delete(pointer, std::align_val_t(alignment));
}

bool XmlLoadArena::do_is_equal(const std::pmr::memory_resource& other) const noexcept {
  return this == &other;
}

bool XmlLoadArena::Owns(const void* pointer) const {
  const char* p = static_cast<const char*>(pointer);
  // The latest block is the largest and holds most of what is freed.
  for (auto block = blocks_.rbegin(); block != blocks_.rend(); ++block) {
    if (std::less_equal<const char*>()(block->start, p) &&
        std::less<const char*>()(p, block->start + block->size))
      return true;
  }
  return false;
}
