// What earlier searches for applications learnt, kept between runs the way the
// platform keeps its registry database: the folders listed and what the
// Info.plist files said. A record is trusted only while the folder or file it
// describes carries the same device, inode, size and change times it had when
// it was read, so the answers stay those of a fresh search.
#ifndef SKIFF_PLATFORM_APPLICATION_SEARCH_CACHE_POSIX_H_
#define SKIFF_PLATFORM_APPLICATION_SEARCH_CACHE_POSIX_H_

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

// The entries of a folder as the search needs them: how many were read and
// which of them, at which position, are real directories.
template <typename Name>
struct BasicFolderListing {
  size_t entries = 0;
  std::vector<std::pair<size_t, Name>> subfolders;
};
using FolderListing = BasicFolderListing<std::string>;
// A kept listing, naming what the cache holds.
using KeptFolderListing = BasicFolderListing<std::string_view>;

// What an application's Info.plist says that a search needs.
struct InfoFacts {
  bool pdfEditor = false;   // declares the application an editor of PDF documents
  bool identified = false;  // the file was parsed and `identifier` is its
  std::string identifier;   // "CFBundleIdentifier" string ("" when not one)
};

// Used by one search at a time, from one thread.
class ApplicationSearchCache {
 public:
  // The identity and change times of a file or folder; a change to a folder's
  // entries or to a file's bytes gives it a new change time.
  struct Stamp {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t modified = 0;  // nanoseconds since the epoch
    int64_t changed = 0;
    bool operator==(const Stamp& other) const;
  };

  // Kept in the file at `path` (nothing is kept when it is ""); `now` gives
  // the wall-clock time in seconds.
  ApplicationSearchCache(std::string path, std::function<std::time_t()> now);

  static Stamp StampOf(const struct stat& status);

  // Reads the file when its folder and the file are this user's alone and it
  // is whole; otherwise starts empty.
  void Load();
  // Replaces the file with the records used since Load when any changed.
  // False, with `error` saying why, when it cannot be written.
  bool Save(std::string* error);

  // The listing of the folder at `path`, or null when none was kept for
  // `stamp`. It stays valid until the next Load. A search asks in the order
  // of the previous one, which the file keeps: the records are then met in
  // turn, without a lookup.
  const KeptFolderListing* FindFolder(const std::string& path, const Stamp& stamp);
  void KeepFolder(const std::string& path, const Stamp& stamp, const FolderListing& listing);
  // What the Info.plist at `path` said, or false when nothing was kept for
  // `stamp`.
  bool FindInfo(const std::string& path, const Stamp& stamp, InfoFacts* facts);
  // The same for a record already found or kept since Load, without a new
  // stamp: what this search saw moments ago.
  bool FindCheckedInfo(const std::string& path, InfoFacts* facts);
  void KeepInfo(const std::string& path, const Stamp& stamp, const InfoFacts& facts);

  // Files and folders changed this recently may change again within the
  // same tick of the file system's clock without a new change time.
  static constexpr std::time_t kUnsettledSeconds = 2;
  static constexpr size_t kMaxFileSize = 64 * 1024 * 1024;

 private:
  static constexpr size_t kNone = static_cast<size_t>(-1);

  // Texts are views into the loaded file or into `owned_`.
  struct Record {
    std::string_view path;
    Stamp stamp;
    bool isFolder = false;
    bool used = false;
    bool pdfEditor = false;
    bool identified = false;
    std::string_view identifier;
    KeptFolderListing listing;
  };

  // The record of `path`: the next one in turn, else looked up.
  size_t Locate(std::string_view path);
  Record* Find(const std::string& path, const Stamp& stamp, bool isFolder);
  void Use(size_t index);
  void Keep(const std::string& path, Record record);
  std::string_view Own(std::string_view text);
  bool Parse();
  std::string Serialize() const;

  const std::string path_;
  const std::function<std::time_t()> now_;
  std::string data_;
  std::deque<std::string> owned_;
  // In the file's order, then those kept since Load.
  std::deque<Record> records_;
  size_t loaded_ = 0;
  size_t next_ = 0;
  // The record the last Find located, whatever it answered.
  size_t missed_ = kNone;
  // Built at the first record not met in turn.
  std::unordered_map<std::string_view, size_t> index_;
  // The records this search used, in its order.
  std::vector<size_t> order_;
  size_t loadedUsed_ = 0;
  // The editors' Info.plists this search checked, which the bundles ask for.
  std::unordered_map<std::string_view, size_t> checkedEditors_;
  bool changed_ = false;
};

#endif  // SKIFF_PLATFORM_APPLICATION_SEARCH_CACHE_POSIX_H_
