// Memory for the elements of one loaded document.
//
// A load makes thousands of small strings, maps and lists in one go, and they
// are usually freed together. Cutting them from a few large blocks costs a
// fraction of asking the heap for each one, and packs a tree in the order it
// is read. The blocks are freed when the last element made in the arena goes:
// every such element holds a reference through its allocator.
//
// Once the load is over the arena is sealed. What loaded elements allocate
// after that comes from the heap and goes back to it, so an element changed
// again and again does not grow the arena, and elements may be changed from
// any thread, as elements made by hand may.
#ifndef SKIFF_XML_XML_LOAD_ARENA_H_
#define SKIFF_XML_XML_LOAD_ARENA_H_

#include <atomic>
#include <boost/intrusive_ptr.hpp>
#include <cstddef>
#include <memory_resource>
#include <vector>

class XmlLoadArena : public std::pmr::memory_resource {
 public:
  // `firstBlockBytes` is the load's expected need. Room it does not use costs
  // address space only, since untouched pages are never given memory.
  explicit XmlLoadArena(size_t firstBlockBytes);
  ~XmlLoadArena() override;
  XmlLoadArena(const XmlLoadArena&) = delete;
  XmlLoadArena& operator=(const XmlLoadArena&) = delete;

  void Seal() { sealed_ = true; }

  friend void intrusive_ptr_add_ref(XmlLoadArena* arena);
  friend void intrusive_ptr_release(XmlLoadArena* arena);

 private:
  struct Block {
    char* start;
    size_t size;
  };

  void* do_allocate(size_t bytes, size_t alignment) override;
  void do_deallocate(void* pointer, size_t bytes, size_t alignment) override;
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override;
  bool Owns(const void* pointer) const;

  std::vector<Block> blocks_;
  char* next_ = nullptr;
  char* end_ = nullptr;
  size_t nextBlockBytes_;
  bool sealed_ = false;
  std::atomic<size_t> references_{0};
};

// Allocates through an arena and keeps it alive while anything it allocated
// may still be freed: what the element allocations of a load use.
template <typename T>
class XmlArenaAllocator {
 public:
  using value_type = T;

  explicit XmlArenaAllocator(boost::intrusive_ptr<XmlLoadArena> arena) : arena_(std::move(arena)) {}
  template <typename U>
  XmlArenaAllocator(const XmlArenaAllocator<U>& other) : arena_(other.arena()) {}

  T* allocate(size_t count) {
    return static_cast<T*>(arena_->allocate(count * sizeof(T), alignof(T)));
  }
  void deallocate(T* pointer, size_t count) {
    arena_->deallocate(pointer, count * sizeof(T), alignof(T));
  }

  const boost::intrusive_ptr<XmlLoadArena>& arena() const { return arena_; }

  template <typename U>
  bool operator==(const XmlArenaAllocator<U>& other) const {
    return arena_ == other.arena();
  }
  template <typename U>
  bool operator!=(const XmlArenaAllocator<U>& other) const {
    return arena_ != other.arena();
  }

 private:
  boost::intrusive_ptr<XmlLoadArena> arena_;
};

#endif  // SKIFF_XML_XML_LOAD_ARENA_H_
