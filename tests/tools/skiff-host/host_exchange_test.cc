// skiff-host against a scripted stand-in for skiff (script_client.cc).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>

#include "gtest/gtest.h"
#include "tests/support/scoped_temp_dir.h"

extern char** environ;

namespace {

using Lines = std::vector<std::string>;

// The frame as skiff writes it, spelled out here rather than taken from the
// bridge code the host uses.
std::string Frame(uint32_t id, const std::string& text) {
  std::string bytes;
  for (uint32_t word : {id, 0xFFFFu, static_cast<uint32_t>(text.size() + 1)}) {
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>(word >> shift);
  }
  return bytes + text + '\0';
}

std::string Value(int value) { return "<data><value>" + std::to_string(value) + "</value></data>"; }

std::string Write(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string line = "write ";
  for (unsigned char byte : bytes) line += std::string{digits[byte >> 4], digits[byte & 15]};
  return line;
}

// id 4, auxiliary word 0xFFFF, N = 10, "terminate" and its NUL.
const std::string kTerminateFrame("\x04\x00\x00\x00\xff\xff\x00\x00\x0a\x00\x00\x00terminate\x00",
                                  22);

Lines SplitLines(const std::string& text) {
  Lines lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct HostRun {
  int exitCode = -1;
  Lines out;
  std::string err;
  // What the client saw, "args ..." first.
  Lines record;
  std::chrono::milliseconds took{0};

  // The bytes of every "read" record, and the size of each read.
  std::string Received() const {
    std::string bytes;
    for (const std::string& line : record) {
      if (line.rfind("read ", 0) != 0) continue;
      const std::string hex = line.substr(line.rfind(' ') + 1);
      for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
  }
  std::vector<size_t> ReadSizes() const {
    std::vector<size_t> sizes;
    for (const std::string& line : record) {
      if (line.rfind("read ", 0) == 0) sizes.push_back(std::stoul(line.substr(5)));
    }
    return sizes;
  }
  // The number after the first record line starting with `word`; -1 if none.
  long NumberAfter(const std::string& word) const {
    for (const std::string& line : record) {
      if (line.rfind(word + " ", 0) == 0) return std::stol(line.substr(word.size() + 1));
    }
    return -1;
  }
  bool Saw(const std::string& line) const {
    return std::find(record.begin(), record.end(), line) != record.end();
  }
};

class SkiffHostTest : public ::testing::Test {
 protected:
  const Lines kSkiffOptions = {"--mode=install", "--inputXml=in.xml", "--outputXml=out.xml",
                               "--pipeName=pair"};

  // Runs skiff-host with `hostOptions`, the four Skiff options and the
  // client following `script`; a host that outlives 10 s is killed.
  HostRun Run(const Lines& hostOptions, const Lines& script) {
    return RunWith(hostOptions, script, kSkiffOptions);
  }

  HostRun RunWith(const Lines& hostOptions, const Lines& script, const Lines& skiffOptions) {
    std::string scriptText = "folder " + folder() + "\n";
    for (const std::string& line : script) scriptText += line + "\n";
    WriteFileOrDie(dir_.path() + "/script", scriptText);
    Lines arguments = {SKIFF_HOST_BINARY, std::string("--skiff=") + SKIFF_HOST_SCRIPT_CLIENT,
                       "--pipe-folder=" + dir_.path()};
    arguments.insert(arguments.end(), hostOptions.begin(), hostOptions.end());
    arguments.insert(arguments.end(), skiffOptions.begin(), skiffOptions.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    Lines environment = {"SKIFF_HOST_TEST_SCRIPT=" + dir_.path() + "/script"};
    for (char** entry = environ; *entry; ++entry) environment.push_back(*entry);
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    const std::string outPath = dir_.path() + "/stdout";
    const std::string errPath = dir_.path() + "/stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    HostRun run;
    if (started != 0) {
      ADD_FAILURE() << "cannot start skiff-host: " << std::strerror(started);
      return run;
    }
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() - start > std::chrono::seconds(10)) {
        ADD_FAILURE() << "skiff-host did not end";
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    // The client may end just after a host that gave up on it.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    run.out = SplitLines(ReadFileOrDie(outPath));
    run.err = ReadFileOrDie(errPath);
    const std::string recordPath = dir_.path() + "/script.record";
    if (PathExists(recordPath)) run.record = SplitLines(ReadFileOrDie(recordPath));
    return run;
  }

  std::string folder() const { return dir_.path() + "/"; }

  ScopedTempDir dir_;
};

TEST_F(SkiffHostTest, AnswersOnlyTheFinalProgressWithOneTerminateFrame) {
  const HostRun run = Run({}, {"connect 3000", Write(Frame(9, Value(10))), "drain 300",
                               Write(Frame(9, Value(100))), "await-terminate 3000", "exit 0"});
  ASSERT_EQ(run.record.size(), 5u) << run.err;
  EXPECT_EQ(run.record[0],
            "args --mode=install --inputXml=in.xml --outputXml=out.xml --pipeName=pair");
  EXPECT_EQ(run.record[2], "nothing");
  EXPECT_EQ(run.ReadSizes(), std::vector<size_t>{22});
  EXPECT_EQ(run.Received(), kTerminateFrame);
  EXPECT_EQ(run.out, (Lines{"progress 10", "progress 100", "result: success"}));
  EXPECT_EQ(run.exitCode, 0);
}

TEST_F(SkiffHostTest, AnswersTheErrorPacketAndPassesTheFailureOn) {
  const HostRun run = Run({}, {"connect 3000", Write(Frame(18, "disk full")),
                               Write(Frame(10, Value(38))), "await-terminate 3000", "exit 38"});
  EXPECT_EQ(run.Received(), kTerminateFrame);
  EXPECT_EQ(run.out, (Lines{"packet 18: disk full", "error 38", "result: failure (38)"}));
  EXPECT_EQ(run.exitCode, 38);
}

TEST_F(SkiffHostTest, CreatesTheFifosOpenToEveryone) {
  const mode_t previous = umask(022);
  const HostRun run = Run({}, {"exit 0"});
  umask(previous);
  for (const char* suffix : {"_IN", "_OUT"}) {
    struct stat info;
    ASSERT_EQ(stat((folder() + "pair" + suffix).c_str(), &info), 0) << suffix;
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << suffix;
    EXPECT_EQ(info.st_mode & 0777, 0666u) << suffix;
  }
}

TEST_F(SkiffHostTest, ReusesExistingFifosButRefusesOtherFiles) {
  ASSERT_EQ(mkfifo((folder() + "pair_IN").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((folder() + "pair_OUT").c_str(), 0600), 0);
  const HostRun reused =
      Run({}, {"connect 3000", Write(Frame(9, Value(100))), "await-terminate 3000", "exit 0"});
  EXPECT_EQ(reused.Received(), kTerminateFrame);

  unlink((folder() + "pair_IN").c_str());
  WriteFileOrDie(folder() + "pair_IN", "");
  unlink((folder() + "script.record").c_str());
  const HostRun refused = Run({}, {"exit 0"});
  EXPECT_EQ(refused.exitCode, 125);
  EXPECT_TRUE(refused.record.empty()) << "the client was started";
}

TEST_F(SkiffHostTest, DoesNotWaitForASkiffThatEndsBeforeConnecting) {
  const HostRun silent = Run({}, {"exit 7"});
  EXPECT_EQ(silent.exitCode, 7);
  EXPECT_EQ(silent.out, Lines{"result: failure (7)"});
  // Opened its reading end, so the host's open for writing succeeds, but
  // never connected the pipe the host reads.
  const HostRun halfway = Run({}, {"open-read", "sleep 300", "exit 9"});
  EXPECT_EQ(halfway.exitCode, 9);
  EXPECT_LT(halfway.took, std::chrono::seconds(3));
}

TEST_F(SkiffHostTest, JustRunsSkiffForModesWithoutPipes) {
  const HostRun run =
      RunWith({}, {"exit 5"},
              {"--outputXml=o.xml", "--mode=getAppStatus", "--pipeName=pair", "--inputXml=i.xml"});
  EXPECT_EQ(run.exitCode, 5);
  EXPECT_EQ(run.record,
            Lines{"args --outputXml=o.xml --mode=getAppStatus --pipeName=pair --inputXml=i.xml"});
  EXPECT_FALSE(PathExists(folder() + "pair_IN"));
}

TEST_F(SkiffHostTest, CloseAfterOnePacketClosesTheWritingEndButKeepsReading) {
  const HostRun run =
      Run({"--close-after=1"}, {"connect 3000", Write(Frame(9, Value(10))), "await-eof 3000",
                                Write(Frame(9, Value(20))), Write(Frame(9, Value(100))), "exit 0"});
  EXPECT_TRUE(run.Saw("eof")) << run.err;
  EXPECT_EQ(run.Received(), "");
  EXPECT_EQ(run.out, (Lines{"progress 10", "progress 20", "progress 100", "result: success"}));
}

TEST_F(SkiffHostTest, SplitHeaderComesInTwoWrites) {
  const HostRun run = Run({"--split-header"}, {"connect 3000", Write(Frame(9, Value(100))),
                                               "await-terminate 3000", "exit 0"});
  const std::vector<size_t> sizes = run.ReadSizes();
  ASSERT_EQ(sizes.size(), 2u);
  EXPECT_LT(sizes[0], 12u);
  EXPECT_EQ(run.Received(), kTerminateFrame);
}

TEST_F(SkiffHostTest, OversizedAnnouncesOneByteBeyondTheLimitAndNothingElse) {
  const HostRun run = Run({"--oversized"}, {"connect 3000", Write(Frame(9, Value(100))),
                                            "await-bytes 12 3000", "drain 300", "exit 0"});
  // 409,601 = 0x00064001.
  EXPECT_EQ(run.Received(), std::string("\x04\x00\x00\x00\xff\xff\x00\x00\x01\x40\x06\x00", 12));
  EXPECT_TRUE(run.Saw("nothing"));
}

TEST_F(SkiffHostTest, TerminateAtOnceStillReadsEveryPacket) {
  const HostRun run = Run({"--terminate-at-once"},
                          {"connect 3000", "await-terminate 3000", Write(Frame(9, Value(10))),
                           Write(Frame(9, Value(100))), "drain 300", "exit 0"});
  EXPECT_EQ(run.Received(), kTerminateFrame);
  EXPECT_TRUE(run.Saw("nothing")) << "a second terminate came";
  EXPECT_EQ(run.out, (Lines{"progress 10", "progress 100", "result: success"}));
}

TEST_F(SkiffHostTest, SendsTheChosenIdsBeforeTheTerminate) {
  const HostRun run = Run({"--send-ids=0,10,18,77"}, {"connect 3000", Write(Frame(9, Value(100))),
                                                      "await-terminate 3000", "exit 0"});
  EXPECT_EQ(run.Received(),
            Frame(0, "") + Frame(10, "") + Frame(18, "") + Frame(77, "") + kTerminateFrame);
}

TEST_F(SkiffHostTest, WaitsBeforeConnectingAndBeforeAnswering) {
  const HostRun run =
      Run({"--connect-late=400", "--answer-late=400"},
          {"connect 3000", Write(Frame(9, Value(100))), "await-terminate 3000", "exit 0"});
  EXPECT_GE(run.NumberAfter("connected"), 300);
  EXPECT_GE(run.NumberAfter("waited"), 400);
  EXPECT_EQ(run.Received(), kTerminateFrame);
}

TEST_F(SkiffHostTest, NeverConnectLeavesThePipesUnopened) {
  const HostRun run = Run({"--never-connect"}, {"connect 600", "exit 38"});
  EXPECT_TRUE(run.Saw("no-host"));
  EXPECT_EQ(run.exitCode, 38);
}

TEST_F(SkiffHostTest, RejectsAnUnknownOptionWithoutStartingSkiff) {
  const HostRun run = Run({"--hurry"}, {"exit 0"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("Usage: skiff-host"), std::string::npos);
  EXPECT_TRUE(run.record.empty());
}

}  // namespace
