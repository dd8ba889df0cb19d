#include "tools/throwaway_root/child_plan.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace throwaway_root {
namespace {

// Step numbers below zero name the work done outside the step list.
constexpr int32_t kRedirectStep = -1;
constexpr int32_t kExecStep = -2;

[[noreturn]] void Fail(int errorFd, int32_t step, int error) {
  const FailureRecord record{step, error};
  // Nothing more can be done if the parent is gone.
  while (write(errorFd, &record, sizeof(record)) < 0 && errno == EINTR) {
  }
  _exit(127);
}

bool WriteWhole(const char* path, const std::string& data) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const char* next = data.data();
  size_t left = data.size();
  while (left > 0) {
    const ssize_t written = write(fd, next, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      const int error = errno;
      close(fd);
      errno = error;
      return false;
    }
    next += written;
    left -= static_cast<size_t>(written);
  }
  return close(fd) == 0;
}

bool MakeDirectory(const char* path) {
  struct stat info;
  if (stat(path, &info) == 0) {
    if (S_ISDIR(info.st_mode)) return true;
    errno = ENOTDIR;
    return false;
  }
  return mkdir(path, 0755) == 0 || errno == EEXIST;
}

bool MakeFile(const char* path) {
  struct stat info;
  if (stat(path, &info) == 0) {
    if (!S_ISDIR(info.st_mode)) return true;
    errno = EISDIR;
    return false;
  }
  const int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool PutDescriptor(int from, int to) {
  if (from < 0) return true;
  // dup2 onto itself would keep the close-on-exec flag.
  if (from == to) return fcntl(to, F_SETFD, 0) == 0;
  return dup2(from, to) >= 0;
}

// The flags a read-only remount of a bind of `source` must repeat: inside a
// user namespace the kernel refuses to drop the ones the host mount has.
unsigned long LockedMountFlags(const std::string& source) {
  struct statvfs info;
  if (statvfs(source.c_str(), &info) != 0) return 0;
  unsigned long flags = 0;
  if (info.f_flag & ST_NOSUID) flags |= MS_NOSUID;
  if (info.f_flag & ST_NODEV) flags |= MS_NODEV;
  if (info.f_flag & ST_NOEXEC) flags |= MS_NOEXEC;
  if (info.f_flag & ST_NODIRATIME) flags |= MS_NODIRATIME;
  if (info.f_flag & ST_NOATIME) {
    flags |= MS_NOATIME;
  } else if (info.f_flag & ST_RELATIME) {
    flags |= MS_RELATIME;
  } else {
    flags |= MS_STRICTATIME;
  }
  return flags;
}

// "/a//b/" -> "/a/b"; empty when the path is relative, "/" or steps upwards.
std::string NormalizeTarget(const std::string& target) {
  if (target.empty() || target[0] != '/') return "";
  std::string normal;
  size_t start = 0;
  while (start < target.size()) {
    size_t end = target.find('/', start);
    if (end == std::string::npos) end = target.size();
    const std::string part = target.substr(start, end - start);
    if (part == "." || part == "..") return "";
    if (!part.empty()) normal += "/" + part;
    start = end + 1;
  }
  return normal;
}

}  // namespace

ChildPlan::ChildPlan(const RootLayout& layout, const RootCommand& command) : root_(layout.root) {
  if (command.ownProcessGroup) {
    steps_.push_back({Action::kSetProcessGroup, "", "", 0, false, "setpgid"});
  }
  steps_.push_back({Action::kUnshare, "", "", 0, false, "unshare"});
  // Without "deny" an unprivileged process may not write its gid_map.
  steps_.push_back(
      {Action::kWriteFile, "/proc/self/setgroups", "deny", 0, true, "/proc/self/setgroups"});
  steps_.push_back({Action::kWriteFile, "/proc/self/uid_map",
                    "0 " + std::to_string(getuid()) + " 1", 0, false, "/proc/self/uid_map"});
  steps_.push_back({Action::kWriteFile, "/proc/self/gid_map",
                    "0 " + std::to_string(getgid()) + " 1", 0, false, "/proc/self/gid_map"});
  // Keeps our mounts from propagating back to the host's namespace.
  steps_.push_back({Action::kMakeMountsPrivate, "/", "", 0, false, "make / private"});
  for (const BindMount& mount : layout.mounts) AddMount(mount, false);
  for (const BindMount& mount : command.binds) AddMount(mount, true);
  for (const TmpfsMount& mount : command.tmpfsMounts) AddTmpfs(mount);
  steps_.push_back({Action::kChroot, root_, "", 0, false, "chroot"});
  steps_.push_back({Action::kChangeDirectory, command.workingDirectory, "", 0, false,
                    "change to the working folder " + command.workingDirectory});
  PrepareProgram(command);
}

void ChildPlan::AddMount(const BindMount& mount, bool createMountPoint) {
  const std::string target = NormalizeTarget(mount.target);
  if (target.empty()) {
    throw ThrowawayRootError("cannot bind " + mount.source + ": the target \"" + mount.target +
                             "\" is not an absolute path below / without . or ..");
  }
  struct stat info;
  if (stat(mount.source.c_str(), &info) != 0) {
    throw ThrowawayRootError("cannot bind " + mount.source + ": " + strerror(errno));
  }
  const bool isDirectory = S_ISDIR(info.st_mode);
  const std::string inside = root_ + target;
  if (createMountPoint) {
    AddMountPointFolders(target);
    steps_.push_back({isDirectory ? Action::kMakeDirectory : Action::kMakeFile, inside, "", 0,
                      false, "create the mount point " + target});
  }
  steps_.push_back({Action::kBind, inside, mount.source, MS_BIND | MS_REC, false,
                    "bind-mount " + mount.source + " onto " + target});
  if (mount.readOnly) {
    steps_.push_back({Action::kRemountReadOnly, inside, "",
                      MS_REMOUNT | MS_BIND | MS_RDONLY | LockedMountFlags(mount.source), false,
                      "make " + target + " read-only"});
  }
}

void ChildPlan::AddMountPointFolders(const std::string& target) {
  // Made one level at a time, each after the mounts before it, so a point
  // inside an earlier bind lands in that bind (and fails in a read-only one).
  for (size_t slash = target.find('/', 1); slash != std::string::npos;
       slash = target.find('/', slash + 1)) {
    steps_.push_back({Action::kMakeDirectory, root_ + target.substr(0, slash), "", 0, false,
                      "create the folder " + target.substr(0, slash)});
  }
}

void ChildPlan::AddTmpfs(const TmpfsMount& mount) {
  const std::string target = NormalizeTarget(mount.target);
  if (target.empty() || mount.sizeBytes == 0) {
    throw ThrowawayRootError("cannot mount a tmpfs at \"" + mount.target +
                             "\": it needs an absolute path below / without . or .. and a size");
  }
  AddMountPointFolders(target);
  steps_.push_back(
      {Action::kMakeDirectory, root_ + target, "", 0, false, "create the mount point " + target});
  steps_.push_back({Action::kMountTmpfs, root_ + target, "size=" + std::to_string(mount.sizeBytes),
                    MS_NOSUID | MS_NODEV, false, "mount a tmpfs onto " + target});
}

void ChildPlan::PrepareProgram(const RootCommand& command) {
  program_ =
      command.executable.empty() && !command.argv.empty() ? command.argv[0] : command.executable;
  if (program_.empty()) throw ThrowawayRootError("no program to run in the root");
  if (program_.find('/') != std::string::npos) {
    candidates_.push_back(program_);
  } else {
    auto path = command.environment.find("PATH");
    const std::string search = path == command.environment.end() ? "/usr/bin:/bin" : path->second;
    size_t start = 0;
    while (start <= search.size()) {
      size_t end = search.find(':', start);
      if (end == std::string::npos) end = search.size();
      if (end > start) candidates_.push_back(search.substr(start, end - start) + "/" + program_);
      start = end + 1;
    }
    if (candidates_.empty()) candidates_.push_back(program_);
  }
  arguments_ = command.argv;
  for (const auto& [name, value] : command.environment) environment_.push_back(name + "=" + value);
  for (std::string& argument : arguments_) argv_.push_back(argument.data());
  argv_.push_back(nullptr);
  for (std::string& entry : environment_) envp_.push_back(entry.data());
  envp_.push_back(nullptr);
}

void ChildPlan::Execute(const ChildDescriptors& descriptors) const {
  const int errorFd = descriptors.error;
  for (size_t index = 0; index < steps_.size(); ++index) {
    const Step& step = steps_[index];
    const char* path = step.path.c_str();
    bool done = false;
    switch (step.action) {
      case Action::kSetProcessGroup:
        done = setpgid(0, 0) == 0;
        break;
      case Action::kUnshare:
        done = unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0;
        break;
      case Action::kWriteFile:
        done = WriteWhole(path, step.data) || (step.missingIsFine && errno == ENOENT);
        break;
      case Action::kMakeMountsPrivate:
        done = mount(nullptr, path, nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        break;
      case Action::kMakeDirectory:
        done = MakeDirectory(path);
        break;
      case Action::kMakeFile:
        done = MakeFile(path);
        break;
      case Action::kBind:
        done = mount(step.data.c_str(), path, nullptr, step.flags, nullptr) == 0;
        break;
      case Action::kMountTmpfs:
        done = mount("tmpfs", path, "tmpfs", step.flags, step.data.c_str()) == 0;
        break;
      case Action::kRemountReadOnly:
        done = mount(nullptr, path, nullptr, step.flags, nullptr) == 0;
        break;
      case Action::kChroot:
        done = chroot(path) == 0;
        break;
      case Action::kChangeDirectory:
        done = chdir(path) == 0;
        break;
    }
    if (!done) Fail(errorFd, static_cast<int32_t>(index), errno);
  }

  if (!PutDescriptor(descriptors.input, STDIN_FILENO) ||
      !PutDescriptor(descriptors.output, STDOUT_FILENO) ||
      !PutDescriptor(descriptors.errorOutput, STDERR_FILENO)) {
    Fail(errorFd, kRedirectStep, errno);
  }
  // Ignored signals and the blocked mask survive exec; the program should
  // start as if from a shell.
  struct sigaction defaults;
  memset(&defaults, 0, sizeof(defaults));
  defaults.sa_handler = SIG_DFL;
  for (int number = 1; number < NSIG; ++number) sigaction(number, &defaults, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);

  // Like execvp, but over the program's own PATH: EACCES outranks ENOENT.
  int error = ENOENT;
  for (const std::string& candidate : candidates_) {
    execve(candidate.c_str(), argv_.data(), envp_.data());
    if (errno != ENOENT || error != EACCES) error = errno;
    if (error != ENOENT && error != EACCES && error != ENOTDIR) break;
  }
  Fail(errorFd, kExecStep, error);
}

std::string ChildPlan::DescribeFailure(const FailureRecord& record) const {
  const std::string reason = strerror(record.error);
  if (record.step == kExecStep) {
    return "cannot run " + program_ + " inside the root " + root_ + ": " + reason;
  }
  if (record.step == kRedirectStep) return "cannot redirect the standard streams: " + reason;
  if (record.step < 0 || static_cast<size_t>(record.step) >= steps_.size()) {
    return "the root's child reported an unknown failure: " + reason;
  }
  const Step& step = steps_[static_cast<size_t>(record.step)];
  switch (step.action) {
    case Action::kUnshare:
      return "user namespaces are unavailable: unshare: " + reason;
    case Action::kWriteFile:
      return "user namespaces are unavailable: writing " + step.description + ": " + reason;
    default:
      return "cannot enter the root " + root_ + ": " + step.description + ": " + reason;
  }
}

}  // namespace throwaway_root
