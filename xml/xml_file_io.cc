#include "xml/xml_file_io.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

#include "platform/durable_file.h"
#include "platform/regular_file.h"
#include "platform/scoped_descriptor.h"

namespace {

std::string DirectoryOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Creates a new file with a name nobody else uses, with the permissions fopen
// would give a new file.
int CreateUniqueFile(const std::string& directory, std::string* name) {
  static const char kDigits[] = "0123456789abcdef";
  for (int attempt = 0; attempt < 100; ++attempt) {
    // Without the system's randomness the name is still unique to this
    // process and attempt; O_EXCL keeps anything else from being taken.
    uint64_t value = (static_cast<uint64_t>(getpid()) << 32) ^ static_cast<uint64_t>(attempt);
    uint64_t random = 0;
    if (getentropy(&random, sizeof(random)) == 0) value ^= random;
    std::string candidate = directory + "/.skiff-save-";
    for (int i = 0; i < 16; ++i, value >>= 4) candidate += kDigits[value & 0xF];
    candidate += ".tmp";
    int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      *name = candidate;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// Moves `from` to `to` unless something already exists at `to`.
bool RenameWithoutReplacing(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
#endif
  // Filesystems without the flag: a hard link fails on an existing name too.
  if (link(from.c_str(), to.c_str()) != 0) return false;
  unlink(from.c_str());
  return true;
}

// Makes a rename in `directory` survive a crash. Filesystems that cannot sync
// a directory say EINVAL; there the rename is as durable as it gets.
bool SyncDirectory(const std::string& directory) {
  ScopedDescriptor fd(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) return false;
  return fsync(fd.get()) == 0 || errno == EINVAL;
}

}  // namespace

bool XmlFileIo::ReadWholeFile(const std::string& path, std::string* contents) {
  return ReadRegularFile(path, static_cast<size_t>(kMaxFileSize), contents);
}

bool XmlFileIo::SomethingExistsAt(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed[trimmed.size() - 1] == '/')
    trimmed.erase(trimmed.size() - 1);
  struct stat info;
  return lstat(trimmed.c_str(), &info) == 0;
}

bool XmlFileIo::WriteWholeFile(const std::string& path, std::string_view bytes, bool overwrite) {
  std::string temporary;
  ScopedDescriptor fd(CreateUniqueFile(DirectoryOf(path), &temporary));
  if (fd.get() < 0) return false;
  bool ok = true;
  // A replaced file keeps its permissions, as it would when truncated.
  struct stat existing;
  if (overwrite && lstat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
    ok = fchmod(fd.get(), existing.st_mode & 07777) == 0;
  // The bytes reach the disk before the name does, so a crash leaves the old
  // file or the whole new one, never an empty or partial file at `path`.
  ok = ok && WriteDurably(fd.get(), bytes);
  ok = (close(fd.Release()) == 0) && ok;
  if (ok) {
    if (overwrite) {
      ok = rename(temporary.c_str(), path.c_str()) == 0;
    } else {
      ok = RenameWithoutReplacing(temporary, path);
    }
  }
  if (!ok) {
    unlink(temporary.c_str());
    return false;
  }
  // The new file is in place by now; a failed sync still fails the save, since
  // nobody can tell whether it would outlast a crash.
  return SyncDirectory(DirectoryOf(path));
}
