#include "log/installer_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform/folder_lock.h"
#include "platform/folders.h"
#include "platform/regular_file.h"

namespace {

constexpr char kLogSubdirectory[] = "/Logs/Orvane/Installers/";
constexpr mode_t kFolderMode = 0755;
constexpr mode_t kLogMode = 0644;
// Longer messages are not copied into the line buffer, which keeps its room
// from one line to the next.
constexpr size_t kLongestCopiedMessage = 64 * 1024;

// Gives a folder this process has just made its mode whatever the
// file-creation mask; a link put in its place meanwhile is not followed.
void SetFolderMode(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  fchmod(fd, kFolderMode);
  close(fd);
}

// Creates every missing directory of `path` in turn, as mkdir -p does.
bool MakeDirectoryChain(const std::string& path) {
  std::string::size_type position = 0;
  while (position != std::string::npos) {
    position = path.find('/', position + 1);
    const std::string prefix = path.substr(0, position);
    if (prefix.empty()) continue;
    if (mkdir(prefix.c_str(), kFolderMode) == 0) {
      SetFolderMode(prefix);
    } else if (errno != EEXIST) {
      return false;
    }
  }
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Writes a folder's entries to disk: a new name is durable only then.
void SyncFolder(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// Opens the log at `path` for appending, creating it with mode 0644 when
// missing (`created` then says so). Only a regular file with a single name is
// taken: the open follows no link and does not block on a FIFO or device, and
// whatever else stands at the path would have the log written somewhere else.
// -1 when the log cannot be opened or is refused.
int OpenLogForAppending(const std::string& path, bool* created) {
  constexpr int kFlags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  int fd = open(path.c_str(), kFlags | O_CREAT | O_EXCL, kLogMode);
  *created = fd >= 0;
  if (fd < 0 && errno == EEXIST) fd = open(path.c_str(), kFlags);
  if (fd < 0) return -1;
  struct stat info;
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1 || flags < 0 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || (*created && fchmod(fd, kLogMode) != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

// Gives the file at `from` the name `to` unless something, a link included,
// already has that name; never follows a link.
bool MoveAsideWithoutReplacing(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  // A file system without RENAME_NOREPLACE: a new hard link never replaces
  // anything either.
  return errno == EINVAL && linkat(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 0) == 0 &&
         unlink(from.c_str()) == 0;
}

// One writev() for a line too long to copy: `prefix`, `phrase`, `text` and
// the line end, so that the line still lands whole.
void WriteAllParts(int fd, const std::string& prefix, const std::string& phrase,
                   const std::string& text) {
  char lineEnd = '\n';
  iovec parts[] = {{const_cast<char*>(prefix.data()), prefix.size()},
                   {const_cast<char*>(phrase.data()), phrase.size()},
                   {const_cast<char*>(text.data()), text.size()},
                   {&lineEnd, 1}};
  iovec* next = parts;
  int left = 4;
  while (left > 0) {
    const ssize_t count = writev(fd, next, left);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
    size_t done = static_cast<size_t>(count);
    for (; left > 0 && done >= next->iov_len; ++next, --left) done -= next->iov_len;
    if (left > 0) {
      next->iov_base = static_cast<char*>(next->iov_base) + done;
      next->iov_len -= done;
    }
  }
}

std::string FormatLocalTime(std::time_t time) {
  std::tm local;
  localtime_r(&time, &local);
  char buffer[50];
  const size_t length = std::strftime(buffer, sizeof(buffer), "%Y-%m-%d_%H-%M-%S", &local);
  return std::string(buffer, length);
}

}  // namespace

bool EnsureDirectoryExists(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return false;
  return MakeDirectoryChain(path);
}

std::string GetLogDirectory(const std::string& libraryFolder) {
  const std::string directory = libraryFolder + kLogSubdirectory;
  EnsureDirectoryExists(directory);
  return directory;
}

std::string FormatTimestamp() { return FormatLocalTime(std::time(nullptr)); }

InstallerLog::InstallerLog(const std::string& libraryFolder) { Open(libraryFolder); }

InstallerLog::~InstallerLog() {
  if (fd_ >= 0) close(fd_);
}

InstallerLog& InstallerLog::GetInstance() {
  static InstallerLog log(LocalLibraryFolder());
  return log;
}

void InstallerLog::Open(const std::string& libraryFolder) {
  const std::string directory = GetLogDirectory(libraryFolder);
  const std::string logPath = directory + kInstallerLogFileName;
  // Runs starting together decide one at a time, so only the first moves an
  // oversized log aside and the others append to the fresh one. Without the
  // lock they still append safely, just possibly to a backup.
  const FolderLock lock(directory);
  bool created = false;
  fd_ = OpenLogForAppending(logPath, &created);
  if (fd_ < 0 || created) return;
  struct stat info;
  if (fstat(fd_, &info) == 0 && static_cast<uint64_t>(info.st_size) > kMaxLogSizeBytes) {
    Rotate(libraryFolder, logPath);
    return;
  }
  WriteAllBytes(fd_, std::string(kRunSeparator) + "\n");
}

void InstallerLog::Rotate(const std::string& libraryFolder, const std::string& logPath) {
  const std::string directory = GetLogDirectory(libraryFolder);
  const std::string backupPath = directory + FormatTimestamp() + "_" + kInstallerLogFileName;
  // The old log and the folder reach the disk before and after the move, so a
  // crash leaves either the old log or its whole backup.
  fsync(fd_);
  SyncFolder(directory);
  // Moving keeps every byte without copying 10 MiB and never replaces a
  // backup of the same second; a log that cannot be moved is appended to,
  // not lost.
  if (!MoveAsideWithoutReplacing(logPath, backupPath)) return;
  SyncFolder(directory);
  close(fd_);
  bool created = false;
  fd_ = OpenLogForAppending(logPath, &created);
}

void InstallerLog::Log(const std::string& message) { Log(std::string(), message); }

void InstallerLog::Log(const std::string& phrase, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ < 0) return;
  // The prefix changes once a second; it stays at the start of line_ and is
  // formatted again only when the second has changed.
  const std::time_t now = std::time(nullptr);
  if (prefixLength_ == 0 || now != prefixTime_) {
    line_.assign("[").append(FormatLocalTime(now)).append("] ");
    prefixTime_ = now;
    prefixLength_ = line_.size();
  }
  line_.resize(prefixLength_);
  // A command's whole output is written from where it is, not copied.
  if (phrase.size() + text.size() > kLongestCopiedMessage) {
    WriteAllParts(fd_, line_, phrase, text);
    return;
  }
  line_.reserve(prefixLength_ + phrase.size() + text.size() + 1);
  line_.append(phrase).append(text).push_back('\n');
  // One write() per line: appends of parallel runs then never cut into it.
  WriteAllBytes(fd_, line_);
}
