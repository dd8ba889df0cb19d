// The floor of a status request: reads every file named in LIST (one path a
// line) to its end, and nothing else.
//
//   skiff-read-files-floor LIST
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: skiff-read-files-floor LIST\n");
    return 2;
  }
  std::ifstream list(argv[1]);
  if (!list) {
    fprintf(stderr, "skiff-read-files-floor: cannot read %s\n", argv[1]);
    return 1;
  }
  char buffer[65536];
  std::string path;
  size_t total = 0;
  while (std::getline(list, path)) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      fprintf(stderr, "skiff-read-files-floor: cannot open %s\n", path.c_str());
      return 1;
    }
    ssize_t count;
    while ((count = read(fd, buffer, sizeof buffer)) > 0) total += static_cast<size_t>(count);
    close(fd);
  }
  return total > 0 ? 0 : 1;
}
