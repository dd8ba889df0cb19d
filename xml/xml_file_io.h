// The file side of loading and saving documents.
#ifndef SKIFF_XML_XML_FILE_IO_H_
#define SKIFF_XML_XML_FILE_IO_H_

#include <string>
#include <string_view>

class XmlFileIo {
 public:
  // Larger files are refused rather than read into memory.
  static constexpr long long kMaxFileSize = 64LL * 1024 * 1024;

  // Reads a regular file of at most kMaxFileSize bytes. False when it is
  // missing, unreadable, not a regular file or too large.
  static bool ReadWholeFile(const std::string& path, std::string* contents);

  // Whether lstat finds anything (a dangling symbolic link included) at `path`
  // with its trailing slashes removed; a lone "/" stays.
  static bool SomethingExistsAt(const std::string& path);

  // Puts `bytes` at `path` whole or not at all: they go to a new file in the
  // same directory first, which is then renamed onto `path`. With `overwrite`
  // false an existing entry at `path` is never replaced. The file and then its
  // directory are synced, so the result outlasts a crash. On a failure before
  // the rename the temporary file is removed and whatever was at `path` stays
  // untouched; when only the sync of the directory fails, the new file is in
  // place but false is returned.
  static bool WriteWholeFile(const std::string& path, std::string_view bytes, bool overwrite);
};

#endif  // SKIFF_XML_XML_FILE_IO_H_
