// Plays skiff's side of the pipes for the tests of skiff-host, which starts
// it in place of skiff. It follows the script named by the environment
// variable SKIFF_HOST_TEST_SCRIPT, one command a line, and appends what it
// sees to the script's path + ".record", one line an event:
//   folder DIR           the folder of the FIFOs (first line of every script)
//   open-read            opens NAME_OUT for reading, as skiff does first
//   connect MS           open-read, then tries for up to MS ms to open NAME_IN
//                        for writing: "connected <ms taken>" or "no-host"
//   write HEX            writes these bytes to NAME_IN in one write
//   sleep MS
//   drain MS             after MS ms, reads what has arrived: "read <n> <hex>"
//                        per read, "eof", or "nothing"
//   await-terminate MS   reads until a whole id-4 frame has arrived: a "read"
//                        line per read, then "waited <ms>", "eof" or "timeout"
//   await-bytes N MS     reads until N bytes have arrived in all
//   await-eof MS         reads until the host closes its end: "eof"/"timeout"
//   exit CODE
// The first record line is "args" and the arguments, each after a space.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

std::string recordPath;
std::string received;
size_t parsedUpTo = 0;
int readFd = -1;
int writeFd = -1;

void Record(const std::string& line) { std::ofstream(recordPath, std::ios::app) << line << "\n"; }

std::string Hex(const char* data, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += digits[static_cast<unsigned char>(data[i]) >> 4];
    text += digits[static_cast<unsigned char>(data[i]) & 15];
  }
  return text;
}

std::string Unhex(const std::string& text) {
  std::string bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

long ElapsedMs(Clock::time_point since) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

uint32_t Word(size_t offset) {
  uint32_t word = 0;
  for (int i = 3; i >= 0; --i)
    word = (word << 8) | static_cast<unsigned char>(received[offset + i]);
  return word;
}

bool TerminateArrived() {
  while (received.size() - parsedUpTo >= 12) {
    const size_t end = parsedUpTo + 12 + Word(parsedUpTo + 8);
    if (received.size() < end) return false;
    const uint32_t id = Word(parsedUpTo);
    parsedUpTo = end;
    if (id == 4) return true;
  }
  return false;
}

// Reads one piece within `timeoutMs`: 1 data, 0 end of file, -1 nothing.
int ReadPiece(int timeoutMs) {
  pollfd poller{readFd, POLLIN, 0};
  if (poll(&poller, 1, timeoutMs) <= 0) return -1;
  char buffer[65536];
  const ssize_t count = read(readFd, buffer, sizeof buffer);
  if (count < 0) return -1;
  if (count == 0) return 0;
  Record("read " + std::to_string(count) + " " + Hex(buffer, static_cast<size_t>(count)));
  received.append(buffer, static_cast<size_t>(count));
  return 1;
}

template <typename Done>
void ReadUntil(long timeoutMs, Done done) {
  const Clock::time_point start = Clock::now();
  while (!done()) {
    const long left = timeoutMs - ElapsedMs(start);
    if (left <= 0) return Record("timeout");
    const int piece = ReadPiece(static_cast<int>(left));
    if (piece == 0) return Record("eof");
  }
  Record("waited " + std::to_string(ElapsedMs(start)));
}

}  // namespace

int main(int argc, char** argv) {
  const char* script = std::getenv("SKIFF_HOST_TEST_SCRIPT");
  if (script == nullptr) return 120;
  recordPath = std::string(script) + ".record";
  std::string arguments = "args";
  std::string pipeName;
  for (int i = 1; i < argc; ++i) {
    arguments += std::string(" ") + argv[i];
    if (std::string(argv[i]).rfind("--pipeName=", 0) == 0) pipeName = argv[i] + 11;
  }
  Record(arguments);

  std::ifstream lines(script);
  std::string folder;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string command;
    words >> command;
    long number = 0;
    if (command == "folder") {
      words >> folder;
    } else if (command == "open-read" || command == "connect") {
      readFd = open((folder + pipeName + "_OUT").c_str(), O_RDONLY | O_NONBLOCK);
      if (command == "open-read") continue;
      words >> number;
      const Clock::time_point start = Clock::now();
      while (writeFd < 0 && ElapsedMs(start) < number) {
        writeFd = open((folder + pipeName + "_IN").c_str(), O_WRONLY | O_NONBLOCK);
        if (writeFd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      Record(writeFd < 0 ? "no-host" : "connected " + std::to_string(ElapsedMs(start)));
    } else if (command == "write") {
      std::string hex;
      words >> hex;
      const std::string bytes = Unhex(hex);
      if (write(writeFd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        Record("short write");
    } else if (command == "sleep") {
      words >> number;
      std::this_thread::sleep_for(std::chrono::milliseconds(number));
    } else if (command == "drain") {
      words >> number;
      std::this_thread::sleep_for(std::chrono::milliseconds(number));
      int piece = ReadPiece(0);
      if (piece < 0) Record("nothing");
      while (piece > 0) piece = ReadPiece(0);
      if (piece == 0) Record("eof");
    } else if (command == "await-terminate") {
      words >> number;
      ReadUntil(number, TerminateArrived);
    } else if (command == "await-bytes") {
      long count = 0;
      words >> count >> number;
      ReadUntil(number, [&] { return received.size() >= static_cast<size_t>(count); });
    } else if (command == "await-eof") {
      words >> number;
      ReadUntil(number, [] { return false; });
    } else if (command == "exit") {
      words >> number;
      return static_cast<int>(number);
    }
  }
  return 0;
}
