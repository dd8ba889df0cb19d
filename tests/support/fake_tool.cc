// Stands in for the system tools skiff runs (the system installer, the
// remover tool, the package utility) in end-to-end tests. It behaves by its
// own name N, the last part of argv[0], and by files in a folder DIR: the
// environment variable SKIFF_FAKE_TOOL_DIR, else the folder of argv[0] (of
// the running executable when argv[0] holds no slash). In this order it
//   appends its arguments to DIR/N.calls: one line per call, each argument
//     followed by the byte 0x1f (so arguments must hold neither 0x1f nor a
//     line end; a call without arguments is an empty line);
//   writes DIR/N.output to standard output, DIR/N.repeat times (default 1);
//   writes DIR/N.stderr to standard error;
//   sleeps DIR/N.sleep milliseconds;
//   kills itself with the signal number in DIR/N.signal;
//   exits with the status in DIR/N.status (default 0).
// A missing file means the default. A file that should hold a number and
// does not makes the tool complain on standard error and exit with 125, so
// that a mistake in a test's setup does not pass for the tool's answer.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace {

constexpr int kBadSetup = 125;
constexpr char kArgumentEnd = '\x1f';

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

// The number in DIR/N.<suffix>, surrounding white space allowed.
bool ReadNumber(const std::string& path, long long minimum, long long maximum,
                std::optional<long long>* value) {
  const std::optional<std::string> text = ReadFile(path);
  if (!text) return true;
  errno = 0;
  char* end = nullptr;
  const long long number = std::strtoll(text->c_str(), &end, 10);
  while (*end == ' ' || *end == '\n' || *end == '\t' || *end == '\r') ++end;
  if (end == text->c_str() || *end != '\0' || errno != 0 || number < minimum || number > maximum) {
    const std::string message = "fake_tool: " + path + " does not hold a usable number\n";
    (void)!write(STDERR_FILENO, message.data(), message.size());
    return false;
  }
  *value = number;
  return true;
}

// Gives up quietly when the reader has gone: the tool's status is still the
// one the test chose.
void WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    data += written;
    size -= static_cast<size_t>(written);
  }
}

void WriteRepeated(const std::string& text, long long count) {
  if (text.empty() || count <= 0) return;
  // Tens of megabytes go out in large writes rather than one per copy.
  std::string chunk;
  long long perChunk = std::max<long long>(1, (1 << 20) / static_cast<long long>(text.size()));
  perChunk = std::min(perChunk, count);
  for (long long i = 0; i < perChunk; ++i) chunk += text;
  for (long long done = 0; done < count; done += perChunk) {
    const long long now = std::min(perChunk, count - done);
    WriteAll(STDOUT_FILENO, chunk.data(), static_cast<size_t>(now) * text.size());
  }
}

std::string DataFolder(const std::string& argv0) {
  if (const char* folder = std::getenv("SKIFF_FAKE_TOOL_DIR")) {
    if (*folder != '\0') return folder;
  }
  std::string path = argv0;
  if (path.find('/') == std::string::npos) {
    char buffer[PATH_MAX];
    const ssize_t size = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    path = size > 0 ? std::string(buffer, static_cast<size_t>(size)) : "./" + path;
  }
  return path.substr(0, path.rfind('/'));
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  const std::string self = argc > 0 ? argv[0] : "fake_tool";
  const std::string name = self.substr(self.rfind('/') + 1);
  const std::string base = DataFolder(self) + "/" + name;

  std::string record;
  for (int i = 1; i < argc; ++i) record += std::string(argv[i]) + kArgumentEnd;
  record += '\n';
  // One append, so that tools running at the same time do not mix records.
  const int calls =
      open((base + ".calls").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (calls >= 0) {
    WriteAll(calls, record.data(), record.size());
    close(calls);
  }

  std::optional<long long> repeat, sleepMs, signalNumber, status;
  if (!ReadNumber(base + ".repeat", 0, LLONG_MAX, &repeat) ||
      !ReadNumber(base + ".sleep", 0, INT_MAX, &sleepMs) ||
      !ReadNumber(base + ".signal", 1, NSIG - 1, &signalNumber) ||
      !ReadNumber(base + ".status", 0, 255, &status)) {
    return kBadSetup;
  }
  if (const std::optional<std::string> output = ReadFile(base + ".output")) {
    WriteRepeated(*output, repeat.value_or(1));
  }
  if (const std::optional<std::string> errors = ReadFile(base + ".stderr")) {
    WriteAll(STDERR_FILENO, errors->data(), errors->size());
  }
  if (sleepMs) usleep(static_cast<useconds_t>(*sleepMs) * 1000);
  if (signalNumber) {
    const int number = static_cast<int>(*signalNumber);
    signal(number, SIG_DFL);
    sigset_t unblocked;
    sigemptyset(&unblocked);
    sigaddset(&unblocked, number);
    sigprocmask(SIG_UNBLOCK, &unblocked, nullptr);
    kill(getpid(), number);
  }
  return static_cast<int>(status.value_or(0));
}
