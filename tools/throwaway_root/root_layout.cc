#include "tools/throwaway_root/root_layout.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace throwaway_root {
namespace {

std::string ErrnoText(const std::string& what, const std::string& path, int error) {
  return "cannot prepare the root: " + what + " " + path + ": " + strerror(error);
}

void MakeDirectories(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = slash == std::string::npos ? path : path.substr(0, slash);
    if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
      throw ThrowawayRootError(ErrnoText("mkdir", prefix, errno));
    }
    if (slash == std::string::npos) break;
  }
}

// A directory of the root's own, made when missing.
void EnsureDirectory(const std::string& path, mode_t mode) {
  struct stat info;
  if (lstat(path.c_str(), &info) == 0) {
    if (!S_ISDIR(info.st_mode)) {
      throw ThrowawayRootError("cannot prepare the root: " + path + " exists and is not a folder");
    }
    return;
  }
  if (mkdir(path.c_str(), mode) != 0) throw ThrowawayRootError(ErrnoText("mkdir", path, errno));
  // mkdir honours the umask; the sticky, world-writable /tmp must not.
  if (chmod(path.c_str(), mode) != 0) throw ThrowawayRootError(ErrnoText("chmod", path, errno));
}

bool ReadLink(const std::string& path, std::string* target) {
  char buffer[PATH_MAX];
  const ssize_t length = readlink(path.c_str(), buffer, sizeof(buffer) - 1);
  if (length < 0) return false;
  target->assign(buffer, static_cast<size_t>(length));
  return true;
}

void EnsureLink(const std::string& path, const std::string& target) {
  std::string existing;
  if (ReadLink(path, &existing)) {
    if (existing == target) return;
    throw ThrowawayRootError("cannot prepare the root: " + path + " links to " + existing +
                             ", the host's to " + target);
  }
  if (symlink(target.c_str(), path.c_str()) != 0) {
    throw ThrowawayRootError(ErrnoText("symlink", path, errno));
  }
}

}  // namespace

RootLayout PrepareRootLayout(const std::string& root) {
  if (root.empty()) throw ThrowawayRootError("cannot prepare the root: no root folder given");
  std::string absolute = root;
  if (absolute[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof(cwd)) == nullptr)
      throw ThrowawayRootError(ErrnoText("getcwd", "", errno));
    absolute = std::string(cwd) + "/" + absolute;
  }
  MakeDirectories(absolute);
  char canonical[PATH_MAX];
  if (realpath(absolute.c_str(), canonical) == nullptr) {
    throw ThrowawayRootError(ErrnoText("realpath", absolute, errno));
  }
  RootLayout layout;
  layout.root = canonical;
  if (layout.root == "/") throw ThrowawayRootError("cannot prepare the root: it is the host's /");

  const struct {
    const char* name;
    bool readOnly;
  } kHostTrees[] = {{"usr", true}, {"etc", true}, {"dev", true}, {"proc", false}};
  for (const auto& tree : kHostTrees) {
    EnsureDirectory(layout.root + "/" + tree.name, 0755);
    layout.mounts.push_back(
        {std::string("/") + tree.name, std::string("/") + tree.name, tree.readOnly});
  }
  for (const char* name : {"bin", "lib", "lib32", "lib64", "libx32", "sbin"}) {
    const std::string host = std::string("/") + name;
    struct stat info;
    if (lstat(host.c_str(), &info) != 0) continue;
    std::string target;
    if (S_ISLNK(info.st_mode) && ReadLink(host, &target)) {
      EnsureLink(layout.root + host, target);
    } else if (S_ISDIR(info.st_mode)) {
      EnsureDirectory(layout.root + host, 0755);
      layout.mounts.push_back({host, host, true});
    }
  }
  EnsureDirectory(layout.root + "/tmp", 01777);
  return layout;
}

}  // namespace throwaway_root
