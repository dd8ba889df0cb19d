// Stands in for the system tools skiff runs (the system installer, the
// remover tool, the package utility) in end-to-end tests. It behaves by its
// own name N, the last part of argv[0], and by files in the folder DIR named
// by the environment variable SKIFF_FAKE_TOOL_DIR. In this order it
//   appends its arguments to DIR/N.calls: one line per call, each argument
//     followed by the byte 0x1f (so arguments must hold neither 0x1f nor a
//     line end);
//   writes DIR/N.output to standard output, DIR/N.repeat times (default 1);
//   sleeps DIR/N.sleep milliseconds;
//   kills itself with the signal number in DIR/N.signal;
//   exits with the status in DIR/N.status (default 0).
// A missing file means the default; without DIR the tool fails with 125, and
// a file that holds no number makes it abort, so that a mistake in a test's
// setup does not pass for the tool's answer.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

long long Number(const std::string& path, long long fallback) {
  const std::string text = ReadFile(path);
  return text.empty() ? fallback : std::stoll(text);
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  const std::string self = argv[0];
  const char* folder = std::getenv("SKIFF_FAKE_TOOL_DIR");
  if (folder == nullptr) return 125;
  const std::string base = folder + ("/" + self.substr(self.rfind('/') + 1));

  std::string record;
  for (int i = 1; i < argc; ++i) record += std::string(argv[i]) + '\x1f';
  // One append, so that tools running at the same time do not mix records.
  const int calls =
      open((base + ".calls").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  record += '\n';
  (void)!write(calls, record.data(), record.size());
  close(calls);

  const std::string output = ReadFile(base + ".output");
  // A reader that has gone makes the writes fail quietly: the tool's status is
  // still the one the test chose.
  for (long long i = Number(base + ".repeat", 1); i > 0; --i) {
    std::fwrite(output.data(), 1, output.size(), stdout);
  }
  std::fflush(stdout);
  usleep(static_cast<useconds_t>(Number(base + ".sleep", 0)) * 1000);
  if (const int number = static_cast<int>(Number(base + ".signal", 0))) {
    signal(number, SIG_DFL);
    sigset_t unblocked;
    sigemptyset(&unblocked);
    sigaddset(&unblocked, number);
    sigprocmask(SIG_UNBLOCK, &unblocked, nullptr);
    kill(getpid(), number);
  }
  return static_cast<int>(Number(base + ".status", 0));
}
