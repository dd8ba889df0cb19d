// Stands in for the product's main executable on the demo machine and in
// end-to-end tests: appends how it was started to /tmp/launched.txt (its
// argv, one line per element, then "--end--") and exits with 0.
#include <fcntl.h>
#include <unistd.h>

#include <string>

int main(int argc, char** argv) {
  std::string record;
  for (int i = 0; i < argc; ++i) record += std::string(argv[i]) + "\n";
  record += "--end--\n";
  const int fd = open("/tmp/launched.txt", O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return 1;
  // One append, so that products started at the same time do not mix lines.
  const ssize_t written = write(fd, record.data(), record.size());
  close(fd);
  return written == static_cast<ssize_t>(record.size()) ? 0 : 1;
}
