// One file per fuzzing process for the readers that take a path: each input
// is written over it, so a run leaves a single file behind in the temporary
// folder, whatever the number of inputs.
#ifndef SKIFF_FUZZ_SCRATCH_FILE_H_
#define SKIFF_FUZZ_SCRATCH_FILE_H_

#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>

class ScratchFile {
 public:
  explicit ScratchFile(const char* stem) {
    const char* folder = std::getenv("TMPDIR");
    path_ = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/" + stem + "-" +
            std::to_string(getpid());
  }
  ~ScratchFile() { std::remove(path_.c_str()); }

  // Replaces the file's contents; a failed write aborts, as the input would
  // otherwise go untested.
  const std::string& Write(const void* data, size_t size) const {
    FILE* file = std::fopen(path_.c_str(), "wb");
    if (file == nullptr) std::abort();
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) std::abort();
    return path_;
  }

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

#endif  // SKIFF_FUZZ_SCRATCH_FILE_H_
