// What the end-to-end runs under skiff-host cannot show of the host: the
// bytes it answers with for each way of behaving (checked here against the
// test playing skiff's side of the pipes), its FIFOs, and its runs of a skiff
// that never connects. That it survives with skiff is the fault table's.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <sstream>

#include "bridge/packet_frame.h"
#include "gtest/gtest.h"
#include "tests/support/scoped_temp_dir.h"
#include "tools/skiff-host/host_session.h"

namespace {

using std::chrono::milliseconds;

// id 4, auxiliary word 0xFFFF, length 10, "terminate" and its NUL.
const std::string kTerminate("\x04\0\0\0\xff\xff\0\0\x0a\0\0\0terminate", 22);

struct ExchangeRow {
  std::vector<std::string> options;
  std::string answer;  // what skiff reads; "|eof" once the host closed its end
  int atLeastMs;
};

class HostEndTest : public ::testing::Test, public HostEndOwner {
 protected:
  // skiff's side is gone once the host has answered or closed its end.
  bool PeerRunning() override {
    pollfd poller{skiffReader_, POLLIN, 0};
    return poll(&poller, 1, 0) == 0;
  }
  void OnPacket(const CommPacket&) override { ++packets_; }
  void OnNote(const std::string&) override {}
  void OnError(const std::string& message) override { errors_ += message; }

  std::string Path(const char* suffix) const { return dir_.path() + "/p" + suffix; }

  ScopedTempDir dir_;
  int skiffReader_ = -1;
  int packets_ = 0;
  std::string errors_;
};

TEST_F(HostEndTest, AnswersTheFinalPacketOnceAsItsOptionsSay) {
  const ExchangeRow rows[] = {
      {{}, kTerminate, 0},
      {{"--terminate-at-once"}, kTerminate, 0},
      {{"--close-after=1"}, "|eof", 0},
      {{"--oversized"}, std::string("\x04\0\0\0\xff\xff\0\0\x01\x40\x06\0", 12), 0},
      {{"--split-header"}, kTerminate, 200},
      {{"--connect-late=300"}, kTerminate, 300},
      {{"--answer-late=300"}, kTerminate, 300},
  };
  for (const ExchangeRow& row : rows) {
    const std::string name = row.options.empty() ? "default" : row.options[0];
    HostOptions options;
    std::string error;
    ASSERT_TRUE(ParseHostOptions(row.options, &options, &error)) << error;
    unlink(Path("_IN").c_str());
    unlink(Path("_OUT").c_str());
    packets_ = 0;
    HostEnd end(dir_.path() + "/", "p", options, this);
    // Either side may make the FIFOs, so anybody may open them.
    const mode_t mask = umask(022);
    ASSERT_TRUE(end.PrepareFifos());
    umask(mask);
    for (const char* suffix : {"_IN", "_OUT"}) {
      struct stat info;
      ASSERT_EQ(stat(Path(suffix).c_str(), &info), 0);
      EXPECT_EQ(info.st_mode & (S_IFMT | 0777), S_IFIFO | 0666u) << name;
    }
    // skiff opens its reading end first, so nothing here blocks.
    skiffReader_ = open(Path("_OUT").c_str(), O_RDONLY | O_NONBLOCK);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(end.Connect()) << name;
    const int skiffWriter = open(Path("_IN").c_str(), O_WRONLY | O_NONBLOCK);
    std::string sent, last;
    EncodeFrame(MakeValuePacket(CB_Pkt_Progress, 10), &sent);
    EncodeFrame(MakeValuePacket(CB_Pkt_Progress, 100), &last);
    sent += last;
    ASSERT_EQ(write(skiffWriter, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
    end.Exchange();
    EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(row.atLeastMs)) << name;
    char buffer[64];
    const ssize_t count = read(skiffReader_, buffer, sizeof buffer);
    const bool closed = read(skiffReader_, buffer, 1) == 0;
    const std::string answer(buffer, static_cast<size_t>(std::max<ssize_t>(count, 0)));
    EXPECT_EQ(answer + (closed ? "|eof" : ""), row.answer) << name;
    EXPECT_EQ(packets_, 2) << name;
    EXPECT_EQ(errors_, "") << name;
    close(skiffWriter);
    close(skiffReader_);
  }
}

// Runs of skiff (a script) that never connect: skiff's own status comes back
// without a wait. A FIFO already there is used; anything else at its path
// stops the run before skiff is started.
TEST_F(HostEndTest, RunsASkiffThatNeverConnects) {
  const struct {
    const char* mode;
    const char* script;
    char atIn;  // at p_IN before: nothing, a Fifo or a Regular file
    int exit;
    const char* shown;
  } rows[] = {
      {"install", "exit 7", '-', 7, "result: failure (7)\n"},
      {"install", "exit 7", 'F', 7, "result: failure (7)\n"},
      // Opens its reading end, so the host connects, but never its writing end.
      {"install", "exec 3<\"$(dirname \"$0\")/p_OUT\"; sleep 0.3; exit 9", '-', 9,
       "result: failure (9)\n"},
      {"getAppStatus", "exit 5", '-', 5, ""},
      {"install", "touch \"$0.started\"", 'R', kHostSetupFailure, ""},
  };
  for (const auto& row : rows) {
    unlink(Path("_IN").c_str());
    unlink(Path("_OUT").c_str());
    WriteFileOrDie(dir_.path() + "/skiff", std::string("#!/bin/sh\n") + row.script + "\n");
    chmod((dir_.path() + "/skiff").c_str(), 0755);
    if (row.atIn == 'F') mkfifo(Path("_IN").c_str(), 0600);
    if (row.atIn == 'R') WriteFileOrDie(Path("_IN"), "");
    HostOptions options;
    std::string error;
    ASSERT_TRUE(
        ParseHostOptions({"--skiff=" + dir_.path() + "/skiff", "--pipe-folder=" + dir_.path(),
                          std::string("--mode=") + row.mode, "--pipeName=p"},
                         &options, &error));
    std::ostringstream shown, errors;
    ProgressDisplay display(shown, false);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(HostSession(options, &display, &errors).Run(), row.exit) << row.script;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << row.script;
    EXPECT_EQ(shown.str(), row.shown) << row.script;
    EXPECT_EQ(errors.str().find(" exists and is not a FIFO") != std::string::npos, row.atIn == 'R');
    EXPECT_EQ(PathExists(Path("_OUT")), *row.mode == 'i' && row.atIn != 'R') << row.script;
    EXPECT_FALSE(PathExists(dir_.path() + "/skiff.started")) << row.script;
  }
}

}  // namespace
