#include "platform/property_list_cache_posix.h"

#include <time.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "platform/property_list.h"
#include "platform/regular_file.h"

namespace {

int64_t Nanoseconds(const timespec& time) {
  return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// The coarsest step the file system may keep times in, judged by the time's
// trailing zeros: a whole second may come from one that keeps two (FAT).
int64_t TimeStep(const timespec& time) {
  if (time.tv_nsec == 0) return 2000000000;
  int64_t step = 1;
  for (long rest = time.tv_nsec; rest % 10 == 0; rest /= 10) step *= 10;
  return step;
}

// File systems take their times from the coarse clock (or a finer one).
int64_t CoarseNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return Nanoseconds(now);
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         Nanoseconds(a.st_mtim) == Nanoseconds(b.st_mtim) &&
         Nanoseconds(a.st_ctim) == Nanoseconds(b.st_ctim);
}

size_t Footprint(const PlistValue& value) {
  size_t bytes = sizeof(PlistValue) + value.string.capacity();
  for (const PlistValue& item : value.array) bytes += Footprint(item);
  for (const auto& [key, item] : value.dictionary)
    bytes += sizeof(key) + key.capacity() + 4 * sizeof(void*) + Footprint(item);
  return bytes;
}

}  // namespace

PropertyListFileCache::PropertyListFileCache(PropertyListCacheLimits limits) : limits_(limits) {}

PropertyListFileCache& PropertyListFileCache::Shared() {
  static PropertyListFileCache cache;
  return cache;
}

std::shared_ptr<const PlistValue> PropertyListFileCache::Read(
    const std::string& path, const std::function<bool(const std::string&)>& worthParsing) {
  const int64_t now = CoarseNow();
  Entry entry{};
  const ScopedDescriptor fd(OpenRegularFileWithStatus(path, &entry.status));
  if (fd.get() < 0) return nullptr;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = entries_.find(path);
    if (found != entries_.end() && SameFile(found->second.status, entry.status))
      return found->second.value;
  }
  std::string data;
  auto value = std::make_shared<PlistValue>();
  if (!ReadOpenRegularFile(fd.get(), entry.status, kMaxPropertyListFileSize, &data) ||
      (worthParsing && !worthParsing(data)) || !ParsePropertyList(data, value.get()))
    return nullptr;
  entry.value = value;
  if (Nanoseconds(entry.status.st_ctim) + TimeStep(entry.status.st_ctim) <= now) {
    entry.bytes = Footprint(*value);
    Keep(path, std::move(entry));
  }
  return value;
}

void PropertyListFileCache::Keep(const std::string& path, Entry entry) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto old = entries_.find(path);
  if (old != entries_.end()) {
    bytes_ -= old->second.bytes;
    entries_.erase(old);
  }
  if (entries_.size() >= limits_.entries || entry.bytes > limits_.bytes - bytes_) return;
  bytes_ += entry.bytes;
  entries_.emplace(path, std::move(entry));
}
