// A file descriptor closed once, on every exit, unless Release() takes it.
#ifndef SKIFF_PLATFORM_SCOPED_DESCRIPTOR_H_
#define SKIFF_PLATFORM_SCOPED_DESCRIPTOR_H_

#include <unistd.h>

class ScopedDescriptor {
 public:
  explicit ScopedDescriptor(int fd = -1) : fd_(fd) {}
  ~ScopedDescriptor() { Close(); }
  ScopedDescriptor(const ScopedDescriptor&) = delete;
  ScopedDescriptor& operator=(const ScopedDescriptor&) = delete;

  int get() const { return fd_; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

#endif  // SKIFF_PLATFORM_SCOPED_DESCRIPTOR_H_
