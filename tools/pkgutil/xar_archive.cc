#include "tools/pkgutil/xar_archive.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace pkgutil {

std::unique_ptr<FileByteSource> FileByteSource::Open(const std::string& path, std::string* error) {
  // Non-blocking so that opening a FIFO returns at once and fails the
  // regular-file test below instead of waiting for a writer.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *error = std::strerror(errno);
    return nullptr;
  }
  struct stat info;
  if (fstat(fd, &info) != 0) {
    *error = std::strerror(errno);
    close(fd);
    return nullptr;
  }
  if (!S_ISREG(info.st_mode)) {
    *error = "not a regular file";
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<FileByteSource>(
      new FileByteSource(fd, static_cast<uint64_t>(info.st_size)));
}

FileByteSource::~FileByteSource() { close(fd_); }

bool FileByteSource::Read(uint64_t offset, size_t length, std::string* out) const {
  if (length > size_ || offset > size_ - length) return false;
  if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) return false;
  out->resize(length);
  size_t done = 0;
  while (done < length) {
    const ssize_t got = pread(fd_, &(*out)[done], length - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    // Zero means the file shrank since it was opened.
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

bool MemoryByteSource::Read(uint64_t offset, size_t length, std::string* out) const {
  if (length > bytes_.size() || offset > bytes_.size() - length) return false;
  out->assign(bytes_, static_cast<size_t>(offset), length);
  return true;
}

bool XarArchive::Load(std::string* error) {
  // The header size field is 16 bits, so its whole range is read at once.
  const uint64_t fileSize = source_->size();
  const size_t prefixLength = static_cast<size_t>(std::min<uint64_t>(fileSize, 0xFFFF));
  std::string prefix;
  if (!source_->Read(0, prefixLength, &prefix)) {
    *error = "the header cannot be read";
    return false;
  }
  if (!ParseXarHeader(reinterpret_cast<const uint8_t*>(prefix.data()), prefix.size(), fileSize,
                      &header_, error))
    return false;
  if (!source_->Read(header_.headerSize, static_cast<size_t>(header_.tocCompressedLength),
                     &compressedToc_)) {
    *error = "the compressed TOC cannot be read";
    return false;
  }
  heapStart_ = header_.headerSize + header_.tocCompressedLength;
  heapSize_ = fileSize - heapStart_;
  return Inflate(error);
}

bool XarArchive::Inflate(std::string* error) {
  z_stream stream;
  std::memset(&stream, 0, sizeof stream);
  if (inflateInit(&stream) != Z_OK) {
    *error = "the TOC cannot be inflated (zlib cannot start)";
    return false;
  }
  // Both lengths are at most XarHeader::kMaxTocSize, well inside uInt.
  toc_.assign(static_cast<size_t>(header_.tocUncompressedLength), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(&compressedToc_[0]);
  stream.avail_in = static_cast<uInt>(compressedToc_.size());
  stream.next_out = reinterpret_cast<Bytef*>(&toc_[0]);
  stream.avail_out = static_cast<uInt>(toc_.size());
  const int result = inflate(&stream, Z_FINISH);
  const uLong produced = stream.total_out;
  const uInt unusedInput = stream.avail_in;
  const uInt unusedOutput = stream.avail_out;
  inflateEnd(&stream);

  if (result == Z_STREAM_END) {
    if (unusedOutput != 0) {
      *error = "the TOC inflates to " + std::to_string(produced) + " bytes, not the declared " +
               std::to_string(header_.tocUncompressedLength);
      return false;
    }
    if (unusedInput != 0) {
      *error = "the compressed TOC has data after its end";
      return false;
    }
    return true;
  }
  if (result == Z_BUF_ERROR && unusedOutput == 0 && unusedInput != 0) {
    *error = "the TOC inflates to more than the declared " +
             std::to_string(header_.tocUncompressedLength) + " bytes";
  } else if (result == Z_BUF_ERROR) {
    *error = "the compressed TOC is truncated";
  } else {
    *error = "the compressed TOC is corrupt";
  }
  toc_.clear();
  return false;
}

bool XarArchive::ReadHeap(uint64_t offset, uint64_t length, std::string* out,
                          std::string* error) const {
  if (length > kMaxHeapRead) {
    *error = "heap item of " + std::to_string(length) + " bytes exceeds the limit of " +
             std::to_string(kMaxHeapRead);
    return false;
  }
  if (length > heapSize_ || offset > heapSize_ - length) {
    *error = "heap item at offset " + std::to_string(offset) + " with size " +
             std::to_string(length) + " runs past the end of the heap (" +
             std::to_string(heapSize_) + " bytes)";
    return false;
  }
  if (!source_->Read(heapStart_ + offset, static_cast<size_t>(length), out)) {
    *error = "the heap cannot be read";
    return false;
  }
  return true;
}

}  // namespace pkgutil
