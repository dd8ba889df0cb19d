#include "log/installer_log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/folders.h"

namespace {

constexpr char kLogSubdirectory[] = "/Logs/Orvane/Installers/";

// Creates every missing directory of `path` in turn, as mkdir -p does.
bool MakeDirectoryChain(const std::string& path) {
  std::string::size_type position = 0;
  while (position != std::string::npos) {
    position = path.find('/', position + 1);
    const std::string prefix = path.substr(0, position);
    if (prefix.empty()) continue;
    if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
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

std::string FormatTimestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local;
  localtime_r(&now, &local);
  char buffer[50];
  const size_t length = std::strftime(buffer, sizeof(buffer), "%Y-%m-%d_%H-%M-%S", &local);
  return std::string(buffer, length);
}

InstallerLog::InstallerLog(const std::string& libraryFolder) { Open(libraryFolder); }

InstallerLog::~InstallerLog() {
  if (file_ != nullptr) std::fclose(file_);
}

InstallerLog& InstallerLog::GetInstance() {
  static InstallerLog log(LocalLibraryFolder());
  return log;
}

void InstallerLog::Open(const std::string& libraryFolder) {
  const std::string logPath = GetLogDirectory(libraryFolder) + kInstallerLogFileName;

  FILE* existing = std::fopen(logPath.c_str(), "r");
  if (existing == nullptr || std::fseek(existing, 0, SEEK_END) != 0) {
    if (existing != nullptr) std::fclose(existing);
    file_ = std::fopen(logPath.c_str(), "a");
    return;
  }
  const long size = std::ftell(existing);
  std::fclose(existing);

  if (size >= 0 && static_cast<uint64_t>(size) <= kMaxLogSizeBytes) {
    file_ = std::fopen(logPath.c_str(), "a");
    if (file_ != nullptr) {
      std::fputs(kRunSeparator, file_);
      std::fputc('\n', file_);
      std::fflush(file_);
    }
    return;
  }

  // Moving the old log aside keeps every byte of it without copying 10 MiB.
  // link() never replaces an existing backup of the same second; when the
  // old log cannot be moved it is appended to rather than lost.
  const std::string backupPath =
      GetLogDirectory(libraryFolder) + FormatTimestamp() + "_" + kInstallerLogFileName;
  if (link(logPath.c_str(), backupPath.c_str()) == 0 && unlink(logPath.c_str()) == 0) {
    file_ = std::fopen(logPath.c_str(), "w");
  } else {
    file_ = std::fopen(logPath.c_str(), "a");
  }
}

void InstallerLog::Log(const std::string& message) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ == nullptr) return;
  const std::string timestamp = FormatTimestamp();
  std::fputc('[', file_);
  std::fwrite(timestamp.data(), 1, timestamp.size(), file_);
  std::fputs("] ", file_);
  std::fwrite(message.data(), 1, message.size(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}
