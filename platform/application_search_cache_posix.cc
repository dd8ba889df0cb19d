#include "platform/application_search_cache_posix.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/regular_file.h"
#include "platform/scoped_descriptor.h"

namespace {

constexpr char kHeader[] = "skiff-application-search-cache 1\n";
constexpr char kTrailer[] = "end ";

int64_t Nanoseconds(const struct timespec& time) {
  return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// The file is written without being synced: a crash may leave it torn, and
// the sum at its end tells.
uint64_t Sum(std::string_view body) { return std::hash<std::string_view>()(body); }

// Only a folder of this user's that nobody else may write to holds the file:
// anyone else could plant records in it.
bool FolderIsPrivate(const std::string& file) {
  const size_t slash = file.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash + 1);
  struct stat status;
  return lstat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
         status.st_uid == geteuid() && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Reads numbers and length-prefixed texts; every call fails at the first
// byte out of place.
class Reader {
 public:
  explicit Reader(std::string_view data) : data_(data) {}

  bool AtEnd() const { return data_.empty(); }

  bool Literal(std::string_view text) {
    if (data_.substr(0, text.size()) != text) return false;
    data_.remove_prefix(text.size());
    return true;
  }

  // Decimal digits of a number that fits, after "-" for a negative one,
  // ended by `end`.
  bool Read(uint64_t* value, char end) {
    size_t digits = 0;
    uint64_t number = 0;
    for (; digits < data_.size() && data_[digits] >= '0' && data_[digits] <= '9'; ++digits) {
      const uint64_t digit = static_cast<uint64_t>(data_[digits] - '0');
      if (number > (UINT64_MAX - digit) / 10) return false;
      number = number * 10 + digit;
    }
    if (digits == 0 || digits >= data_.size() || data_[digits] != end) return false;
    data_.remove_prefix(digits + 1);
    *value = number;
    return true;
  }
  bool Read(int64_t* value, char end) {
    const bool negative = Literal("-");
    uint64_t magnitude = 0;
    if (!Read(&magnitude, end) || magnitude > static_cast<uint64_t>(INT64_MAX)) return false;
    *value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return true;
  }

  // "<length>:<bytes>" followed by `end`.
  bool Text(std::string_view* text, char end) {
    uint64_t length = 0;
    if (!Read(&length, ':') || length >= data_.size() || data_[length] != end) return false;
    *text = data_.substr(0, length);
    data_.remove_prefix(length + 1);
    return true;
  }

 private:
  std::string_view data_;
};

void AppendText(std::string_view text, char end, std::string* out) {
  *out += std::to_string(text.size());
  *out += ':';
  *out += text;
  *out += end;
}

}  // namespace

bool ApplicationSearchCache::Stamp::operator==(const Stamp& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         modified == other.modified && changed == other.changed;
}

ApplicationSearchCache::ApplicationSearchCache(std::string path, std::function<std::time_t()> now)
    : path_(std::move(path)), now_(std::move(now)) {}

ApplicationSearchCache::Stamp ApplicationSearchCache::StampOf(const struct stat& status) {
  return {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino),
          static_cast<int64_t>(status.st_size), Nanoseconds(status.st_mtim),
          Nanoseconds(status.st_ctim)};
}

void ApplicationSearchCache::Load() {
  records_.clear();
  index_.clear();
  order_.clear();
  checkedEditors_.clear();
  owned_.clear();
  data_.clear();
  loaded_ = next_ = loadedUsed_ = 0;
  missed_ = kNone;
  changed_ = false;
  if (path_.empty() || !FolderIsPrivate(path_)) return;
  const ScopedDescriptor file(open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat status;
  if (file.get() < 0 || fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_nlink != 1 || status.st_uid != geteuid() ||
      (status.st_mode & (S_IWGRP | S_IWOTH)) != 0 || status.st_size < 0 ||
      static_cast<uint64_t>(status.st_size) > kMaxFileSize)
    return;
  data_.resize(static_cast<size_t>(status.st_size));
  size_t done = 0;
  while (done < data_.size()) {
    const ssize_t count = read(file.get(), &data_[done], data_.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    done += static_cast<size_t>(count);
  }
  if (done != data_.size() || !Parse()) {
    records_.clear();
    data_.clear();
  }
  loaded_ = records_.size();
}

bool ApplicationSearchCache::Parse() {
  const std::string_view data = data_;
  const size_t trailer = data.rfind(kTrailer);
  if (trailer == std::string_view::npos) return false;
  Reader end(data.substr(trailer + std::strlen(kTrailer)));
  uint64_t sum = 0;
  if (!end.Read(&sum, '\n') || !end.AtEnd() || sum != Sum(data.substr(0, trailer))) return false;
  Reader reader(data.substr(0, trailer));
  if (!reader.Literal(kHeader)) return false;
  while (!reader.AtEnd()) {
    Record& record = records_.emplace_back();
    std::string_view& path = record.path;
    uint64_t value = 0, count = 0;
    record.isFolder = reader.Literal("F ");
    if (!record.isFolder && !reader.Literal("P ")) return false;
    Stamp& stamp = record.stamp;
    if (!reader.Read(&stamp.device, ' ') || !reader.Read(&stamp.inode, ' ') ||
        !reader.Read(&stamp.size, ' ') || !reader.Read(&stamp.modified, ' ') ||
        !reader.Read(&stamp.changed, ' ') || !reader.Read(&value, ' ') ||
        !reader.Read(&count, ' ') || !reader.Text(&path, '\n'))
      return false;
    if (record.isFolder) {
      record.listing.entries = value;
      for (uint64_t index = 0; index < count; ++index) {
        uint64_t position = 0;
        std::string_view name;
        if (!reader.Read(&position, ' ') || !reader.Text(&name, '\n') || position >= value)
          return false;
        record.listing.subfolders.emplace_back(position, name);
      }
    } else if (value > 1 || count > 1) {
      return false;
    } else {
      record.pdfEditor = value == 1;
      record.identified = count == 1;
      if (record.identified && !reader.Text(&record.identifier, '\n')) return false;
    }
  }
  return true;
}

std::string ApplicationSearchCache::Serialize() const {
  std::string out = kHeader;
  // Some 150 bytes a record, so that the text is not copied as it grows.
  out.reserve(order_.size() * 160);
  for (const size_t index : order_) {
    const Record& record = records_[index];
    const Stamp& stamp = record.stamp;
    out += record.isFolder ? "F " : "P ";
    for (const std::string& number :
         {std::to_string(stamp.device), std::to_string(stamp.inode), std::to_string(stamp.size),
          std::to_string(stamp.modified), std::to_string(stamp.changed)}) {
      out += number;
      out += ' ';
    }
    out += std::to_string(record.isFolder ? record.listing.entries : record.pdfEditor ? 1 : 0);
    out += ' ';
    out += std::to_string(record.isFolder     ? record.listing.subfolders.size()
                          : record.identified ? 1
                                              : 0);
    out += ' ';
    AppendText(record.path, '\n', &out);
    if (record.identified) AppendText(record.identifier, '\n', &out);
    for (const auto& [position, name] : record.listing.subfolders) {
      out += std::to_string(position);
      out += ' ';
      AppendText(name, '\n', &out);
    }
  }
  const uint64_t sum = Sum(out);
  out += kTrailer;
  out += std::to_string(sum);
  out += '\n';
  return out;
}

bool ApplicationSearchCache::Save(std::string* error) {
  // Unchanged when every record read was used, in the same order.
  if (path_.empty() || (!changed_ && loadedUsed_ == loaded_)) return true;
  if (!FolderIsPrivate(path_)) {
    *error = "the folder of " + path_ + " is not private";
    return false;
  }
  const std::string contents = Serialize();
  std::string temporary = path_ + ".XXXXXX";
  const int fd = mkostemp(&temporary[0], O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot create " + temporary + ": " + std::strerror(errno);
    return false;
  }
  const ScopedDescriptor file(fd);
  if (!WriteAllBytes(fd, contents) || rename(temporary.c_str(), path_.c_str()) != 0) {
    *error = "cannot write " + path_ + ": " + std::strerror(errno);
    unlink(temporary.c_str());
    return false;
  }
  changed_ = false;
  return true;
}

size_t ApplicationSearchCache::Locate(std::string_view path) {
  if (next_ < records_.size() && records_[next_].path == path) return next_++;
  if (index_.empty()) {
    index_.reserve(records_.size());
    for (size_t index = 0; index < records_.size(); ++index)
      index_.emplace(records_[index].path, index);
  }
  const auto found = index_.find(path);
  if (found == index_.end()) return kNone;
  next_ = found->second + 1;
  return found->second;
}

void ApplicationSearchCache::Use(size_t index) {
  Record& record = records_[index];
  if (!record.isFolder && record.pdfEditor) checkedEditors_.emplace(record.path, index);
  if (record.used) return;
  record.used = true;
  order_.push_back(index);
  if (index < loaded_) {
    ++loadedUsed_;
    // Out of turn, the file's order is no longer the search's.
    changed_ = changed_ || index != order_.size() - 1;
  }
}

ApplicationSearchCache::Record* ApplicationSearchCache::Find(const std::string& path,
                                                             const Stamp& stamp, bool isFolder) {
  const size_t index = Locate(path);
  missed_ = index;
  if (index == kNone || !(records_[index].stamp == stamp) || records_[index].isFolder != isFolder)
    return nullptr;
  Use(index);
  return &records_[index];
}

std::string_view ApplicationSearchCache::Own(std::string_view text) {
  return owned_.emplace_back(text);
}

void ApplicationSearchCache::Keep(const std::string& path, Record record) {
  if (path_.empty()) return;
  // A record is only worth keeping once its folder or file has settled; a
  // stale one of the same path is then left unused, and so dropped.
  const int64_t settled =
      (static_cast<int64_t>(now_()) - kUnsettledSeconds) * static_cast<int64_t>(1000000000);
  if (record.stamp.changed >= settled || record.stamp.modified >= settled) return;
  changed_ = true;
  // Most often the record the search has just found stale.
  const size_t stale = missed_ != kNone && records_[missed_].path == path ? missed_ : Locate(path);
  if (stale != kNone && !records_[stale].used) {
    record.path = records_[stale].path;
    records_[stale] = std::move(record);
    Use(stale);
    return;
  }
  record.path = Own(path);
  records_.push_back(std::move(record));
  if (!index_.empty()) index_.emplace(records_.back().path, records_.size() - 1);
  Use(records_.size() - 1);
}

const KeptFolderListing* ApplicationSearchCache::FindFolder(const std::string& path,
                                                            const Stamp& stamp) {
  const Record* record = Find(path, stamp, true);
  return record == nullptr ? nullptr : &record->listing;
}

void ApplicationSearchCache::KeepFolder(const std::string& path, const Stamp& stamp,
                                        const FolderListing& listing) {
  if (path_.empty()) return;
  Record record;
  record.stamp = stamp;
  record.isFolder = true;
  record.listing.entries = listing.entries;
  for (const auto& [position, name] : listing.subfolders)
    record.listing.subfolders.emplace_back(position, Own(name));
  Keep(path, std::move(record));
}

bool ApplicationSearchCache::FindInfo(const std::string& path, const Stamp& stamp,
                                      InfoFacts* facts) {
  const Record* record = Find(path, stamp, false);
  if (record == nullptr) return false;
  facts->pdfEditor = record->pdfEditor;
  facts->identified = record->identified;
  facts->identifier = std::string(record->identifier);
  return true;
}

bool ApplicationSearchCache::FindCheckedInfo(const std::string& path, InfoFacts* facts) {
  const auto found = checkedEditors_.find(path);
  if (found == checkedEditors_.end()) return false;
  const Record& record = records_[found->second];
  facts->pdfEditor = record.pdfEditor;
  facts->identified = record.identified;
  facts->identifier = std::string(record.identifier);
  return true;
}

void ApplicationSearchCache::KeepInfo(const std::string& path, const Stamp& stamp,
                                      const InfoFacts& facts) {
  if (path_.empty()) return;
  Record record;
  record.stamp = stamp;
  record.pdfEditor = facts.pdfEditor;
  record.identified = facts.identified;
  record.identifier = Own(facts.identifier);
  Keep(path, std::move(record));
}
