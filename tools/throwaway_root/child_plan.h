// Everything the forked child does to enter a throwaway root and start the
// program, worked out in the parent beforehand.
//
// After fork() in a process that may have other threads the child may only
// make async-signal-safe calls, so every path, argument and flag is prepared
// here, and a failure travels back as two numbers (step and errno) that the
// parent turns into a message.
#ifndef SKIFF_TOOLS_THROWAWAY_ROOT_CHILD_PLAN_H_
#define SKIFF_TOOLS_THROWAWAY_ROOT_CHILD_PLAN_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "tools/throwaway_root/root_command.h"
#include "tools/throwaway_root/root_layout.h"

namespace throwaway_root {

// What the child writes to the error pipe when it cannot go on.
struct FailureRecord {
  int32_t step;
  int32_t error;  // errno
};

// Descriptors the child puts in place of 0, 1 and 2; -1 keeps its own.
struct ChildDescriptors {
  int error = -1;  // close-on-exec pipe for a FailureRecord
  int input = -1;
  int output = -1;
  int errorOutput = -1;
};

class ChildPlan {
 public:
  // Throws ThrowawayRootError for a request that cannot work: no program, a
  // relative or ".."-holding mount target, a bind source that does not exist.
  ChildPlan(const RootLayout& layout, const RootCommand& command);

  // Runs in the child: unshares, maps the caller to root, mounts, chroots,
  // changes directory, redirects and execs. Never returns; on failure it
  // writes a FailureRecord and exits with 127.
  [[noreturn]] void Execute(const ChildDescriptors& descriptors) const;

  std::string DescribeFailure(const FailureRecord& record) const;

 private:
  enum class Action {
    kSetProcessGroup,
    kUnshare,
    kWriteFile,
    kMakeMountsPrivate,
    kMakeDirectory,
    kMakeFile,
    kBind,
    kMountTmpfs,
    kRemountReadOnly,
    kChroot,
    kChangeDirectory,
  };
  struct Step {
    Action action;
    std::string path;
    std::string data;  // file contents, bind source, tmpfs options
    unsigned long flags = 0;
    bool missingIsFine = false;  // kWriteFile: a kernel without the file
    std::string description;
  };

  void AddMount(const BindMount& mount, bool createMountPoint);
  void AddTmpfs(const TmpfsMount& mount);
  // The steps that create `target` (normalized) one folder at a time.
  void AddMountPointFolders(const std::string& target);
  void PrepareProgram(const RootCommand& command);

  std::string root_;
  std::vector<Step> steps_;
  std::string program_;                  // as the caller named it
  std::vector<std::string> candidates_;  // paths tried in order
  std::vector<std::string> arguments_;
  std::vector<std::string> environment_;
  std::vector<char*> argv_;
  std::vector<char*> envp_;
};

}  // namespace throwaway_root

#endif  // SKIFF_TOOLS_THROWAWAY_ROOT_CHILD_PLAN_H_
