// A flat installer package opened for its signature: the checked header, the
// TOC both as stored and inflated, and bounded reads from the heap.
#ifndef SKIFF_TOOLS_PKGUTIL_XAR_ARCHIVE_H_
#define SKIFF_TOOLS_PKGUTIL_XAR_ARCHIVE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "tools/pkgutil/xar_header.h"

namespace pkgutil {

// Random access to the bytes of a package. Packages hold their payload too and
// may be large, so only the parts the check needs are read.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t size() const = 0;
  // Exactly `length` bytes at `offset` into `out`; false when they are not
  // all there or cannot be read.
  virtual bool Read(uint64_t offset, size_t length, std::string* out) const = 0;
};

class FileByteSource : public ByteSource {
 public:
  // A regular file only: a device or pipe could block or never end. Returns
  // null and sets `error` when the file cannot be opened.
  static std::unique_ptr<FileByteSource> Open(const std::string& path, std::string* error);
  ~FileByteSource() override;
  FileByteSource(const FileByteSource&) = delete;
  FileByteSource& operator=(const FileByteSource&) = delete;

  uint64_t size() const override { return size_; }
  bool Read(uint64_t offset, size_t length, std::string* out) const override;

 private:
  FileByteSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
  int fd_;
  uint64_t size_;
};

class MemoryByteSource : public ByteSource {
 public:
  explicit MemoryByteSource(std::string bytes) : bytes_(std::move(bytes)) {}
  uint64_t size() const override { return bytes_.size(); }
  bool Read(uint64_t offset, size_t length, std::string* out) const override;

 private:
  std::string bytes_;
};

class XarArchive {
 public:
  // No single heap item the check reads (a digest, an RSA signature) comes
  // near this.
  static constexpr uint64_t kMaxHeapRead = 64 * 1024;

  explicit XarArchive(std::unique_ptr<ByteSource> source) : source_(std::move(source)) {}

  // Reads and checks the header, then reads the compressed TOC and inflates
  // it, requiring exactly the declared size. False with the reason in `error`
  // when the bytes are not a flat package.
  bool Load(std::string* error);

  const XarHeader& header() const { return header_; }
  // The TOC as stored, the bytes its checksum covers.
  const std::string& compressedToc() const { return compressedToc_; }
  // The inflated TOC, XML.
  const std::string& toc() const { return toc_; }
  uint64_t heapSize() const { return heapSize_; }

  // `length` bytes at `offset` from the start of the heap. False with the
  // reason when the range does not lie inside the heap or exceeds
  // kMaxHeapRead.
  bool ReadHeap(uint64_t offset, uint64_t length, std::string* out, std::string* error) const;

 private:
  bool Inflate(std::string* error);

  std::unique_ptr<ByteSource> source_;
  XarHeader header_;
  std::string compressedToc_;
  std::string toc_;
  uint64_t heapStart_ = 0;
  uint64_t heapSize_ = 0;
};

}  // namespace pkgutil

#endif  // SKIFF_TOOLS_PKGUTIL_XAR_ARCHIVE_H_
