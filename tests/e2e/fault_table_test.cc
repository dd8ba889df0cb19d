// The faults skiff must survive, one row each: the row plants its fault in a
// fresh machine and runs skiff; then the exit code, what the host saw, the
// log lines (in order) and the row's checks must hold, no file that was there
// before the run may be lost or changed (skiff's own log, output and probe
// files aside), and nothing may appear outside /tmp and the log folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>

#include "tests/support/pipe_host.h"
#include "tests/support/signature_report_text.h"
#include "tests/support/skiff_root.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

constexpr char kIn[] = "/tmp/skiff-e2e_IN";
constexpr char kLog[] = "/Library/Logs/Orvane/Installers/FLNXInstaller.log";
constexpr char kOutput[] = "/tmp/output.xml";
constexpr char kOld[] = "<response>old</response>";
const std::string kExit0 = "Skiff exited with error code: 0";
const std::string kExit38 = "Skiff exited with error code: 38";
const Lines kRefused = {"In Do Operation", "Not able to init comm bridge bailing out", kExit38};
const Lines kNormalEnd = {"Operation complete", "Terminate pkt received", kExit0};
constexpr char kProbe[] = "/tmp/TempFileForLangPack.pdf";
const std::string kShellPackage =
    "/tmp/src $(touch /tmp/pwned) `touch /tmp/pwned2`; touch /tmp/pwned3 'q\""
    "/Folian Installer.pkg";
const std::string kLongPackage = "/tmp/" + std::string(600, 'p') + "/Folian Installer.pkg";
constexpr char kBomb[] =
    "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\">"
    "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
    "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY x SYSTEM \"file:///tmp/secret\">]>"
    "<r><bundleInfo>com.orvane.Folian.Pro_23.0&d;&x;</bundleInfo><workflow>&d;</workflow></r>";

enum class Drive {
  kHost,           // install under skiff-host, options: its own
  kAlone,          // install with nobody at the pipes, options: {pipe name}
  kVanishingHost,  // install; the host takes one packet, then closes both ends
  kStatus,         // getAppStatus, options: {output path[, shell before, after]}
};

// One step of planting a fault: paths are inside the root.
enum class Plant {
  kVictimLink,  // a link at path to /tmp/victim, which must stay as it is
  kLink,        // a link at path to data
  kDirectory,
  kFile,        // data at path
  kRemove,      // path, or the stand-in tool named by data
  kToolOutput,  // what the tool named by path prints
  kToolSleep,   // milliseconds
  kToolSignal,
  kToolStatus,
  kToolRepeat,
  kInput,  // an install input naming the package path and the proxy data
  kTmpfs,  // data bytes at path
};
struct Step {
  Plant plant;
  std::string path = "", data = "";
};

const Step kSlowInstaller{Plant::kToolSleep, "installer", "2500"};

enum Check : unsigned {
  kNothingRuns = 1,     // neither the package check nor the installer
  kNoInstaller = 2,     // the package check only
  kBothRun = 4,         // the package check and the installer, once each
  kReportsProduct = 8,  // the output document is a file of its own reporting the product
};

struct FaultRow {
  const char* name;
  Drive drive;
  std::vector<Step> plant;
  Lines options;
  int exitCode;
  Lines log;
  unsigned checks;
  void (*extra)(SkiffRoot&);
  friend void PrintTo(const FaultRow& row, std::ostream* out) { *out << row.name; }
};

FaultRow Row(const char* name, Drive drive, std::vector<Step> plant, Lines options, int exitCode,
             Lines log, unsigned checks, void (*extra)(SkiffRoot&) = nullptr) {
  return {name,     drive,          std::move(plant), std::move(options),
          exitCode, std::move(log), checks,           extra};
}

// install with nobody at the pipes, refused before anything runs
FaultRow Refused(const char* name, std::vector<Step> plant, std::string pipeName = "skiff-e2e") {
  return Row(name, Drive::kAlone, std::move(plant), {std::move(pipeName)}, 38, kRefused,
             kNothingRuns);
}

// install under skiff-host, ending as if nothing had happened
FaultRow Survives(const char* name, std::vector<Step> plant, Lines hostOptions,
                  void (*extra)(SkiffRoot&) = nullptr) {
  return Row(name, Drive::kHost, std::move(plant), std::move(hostOptions), 0, kNormalEnd, kBothRun,
             extra);
}

// getAppStatus still reporting the product
FaultRow Reports(const char* name, std::vector<Step> plant, void (*extra)(SkiffRoot&) = nullptr) {
  return Row(name, Drive::kStatus, std::move(plant), {kOutput}, 0, {}, kReportsProduct, extra);
}

void PlantStep(SkiffRoot& root, const Step& step) {
  const std::string at = step.path.empty() || step.path[0] != '/' ? "" : root.HostPath(step.path);
  if (!at.empty() && step.plant != Plant::kInput) {
    root.MakeDirectories(fs::path(step.path).parent_path());
  }
  switch (step.plant) {
    case Plant::kVictimLink:
      return PlantStep(root, {Plant::kLink, step.path, root.WriteFile("/tmp/victim", "keep me")});
    case Plant::kLink:
      ASSERT_EQ(symlink(step.data.c_str(), at.c_str()), 0) << at;
      return;
    case Plant::kDirectory:
      return root.MakeDirectories(step.path);
    case Plant::kFile:
      root.WriteFile(step.path, step.data);
      return;
    case Plant::kRemove:
      fs::remove(at.empty() ? root.Tools().folder() + "/" + step.data : at);
      return;
    case Plant::kToolOutput:
      return root.Tools().SetOutput(step.path, step.data);
    case Plant::kToolSleep:
      return root.Tools().SetSleep(step.path, std::chrono::milliseconds(std::stoi(step.data)));
    case Plant::kToolSignal:
      return root.Tools().SetSignal(step.path, std::stoi(step.data));
    case Plant::kToolStatus:
      return root.Tools().SetStatus(step.path, std::stoi(step.data));
    case Plant::kToolRepeat:
      return root.Tools().SetRepeat(step.path, std::stoul(step.data));
    case Plant::kInput:
      root.WriteFile("/tmp/proxy.xml",
                     InstallProxyDocument(fs::path(step.path).filename().string()));
      root.WriteFile(
          SkiffRoot::kInputPath,
          DeploymentDocument({{"installSourcePath", fs::path(step.path).parent_path().string()},
                              {"proxyFile", step.data}}));
      return;
    case Plant::kTmpfs:
      return root.AddTmpfs(step.path, std::stoul(step.data));
  }
}

// Each tool was called once, with the package path as one argument.
void ExpectToolsGot(SkiffRoot& root, const std::string& package) {
  EXPECT_THAT(root.Tools().Calls("pkgutil"),
              testing::ElementsAre(Lines{"--check-signature", package}));
  EXPECT_THAT(root.Tools().Calls("installer"),
              testing::ElementsAre(Lines{"-pkg", package, "-tgt", "/"}));
}

// A binary property list of one dictionary of strings, each shorter than 15.
std::string BinaryPlist(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string body = "bplist00" + std::string(1, static_cast<char>(0xd0 | entries.size()));
  for (size_t i = 1; i <= 2 * entries.size(); ++i) body.push_back(static_cast<char>(i));
  std::string table(1, 8);
  for (bool keys : {true, false}) {
    for (const auto& entry : entries) {
      table.push_back(static_cast<char>(body.size()));
      body += static_cast<char>(0x50 | (keys ? entry.first : entry.second).size());
      body += keys ? entry.first : entry.second;
    }
  }
  std::string trailer = std::string(6, '\0') + "\x01\x01";
  for (size_t value : {table.size(), size_t{0}, body.size()}) {
    for (int shift = 56; shift >= 0; shift -= 8) trailer += static_cast<char>(value >> shift);
  }
  return body + table + trailer;
}

// Type and permissions, and a file's contents or a link's target; FIFOs are
// never opened. The root's infrastructure (host trees, binaries, tools) is
// left out.
std::map<std::string, std::pair<mode_t, std::string>> Snapshot(const SkiffRoot& root) {
  static const std::regex kInfrastructure("/(usr|etc|dev|proc|bin|sbin|opt|lib(32|64|x32)?)");
  std::map<std::string, std::pair<mode_t, std::string>> entries;
  const fs::path top(root.root());
  for (auto it = fs::recursive_directory_iterator(top); it != fs::end(it); ++it) {
    const std::string inside = "/" + it->path().lexically_relative(top).string();
    struct stat info {};
    if (std::regex_match(inside, kInfrastructure) || lstat(it->path().c_str(), &info) != 0) {
      it.disable_recursion_pending();
      continue;
    }
    std::string contents;
    if (S_ISREG(info.st_mode)) contents = ReadFileOrDie(it->path());
    if (S_ISLNK(info.st_mode)) contents = fs::read_symlink(it->path());
    entries[inside] = {info.st_mode, contents};
  }
  return entries;
}

class FaultTableTest : public ::testing::TestWithParam<FaultRow> {
 protected:
  SkiffResult RunSkiff(const FaultRow& row) {
    // A refusal must come long before a host would have been waited for.
    const std::chrono::seconds timeout(row.drive == Drive::kAlone ? 20 : 120);
    const std::string mode = row.drive == Drive::kStatus ? "getAppStatus" : "install";
    const bool ownPipes = row.drive == Drive::kAlone || row.drive == Drive::kVanishingHost;
    const std::string pipe = ownPipes ? row.options[0] : "p";
    const Lines arguments = {"--mode=" + mode, "--inputXml=/tmp/input.xml",
                             "--outputXml=" + OutputPath(), "--pipeName=" + pipe};
    if (row.drive == Drive::kHost) {
      return root_.RunHost("install", row.options, SkiffRoot::kInputPath, timeout);
    }
    if (row.drive == Drive::kVanishingHost) {
      HostBehaviour options;
      options.answerFinalPacket = false;
      auto host = std::make_unique<PipeHost>(root_.HostPath("/tmp/"), pipe, options);
      auto skiff = root_.StartSkiff(arguments);
      EXPECT_EQ(host->WaitForPackets(1).size(), 1u);
      host.reset();
      return skiff.Wait(timeout);
    }
    if (row.options.size() == 3) {  // getAppStatus inside the row's shell lines
      Lines argv = {"/bin/sh", "-c",
                    row.options[1] + " " + SkiffRoot::kSkiffPath + " \"$@\"; status=$?; " +
                        row.options[2] + " exit $status",
                    "sh"};
      argv.insert(argv.end(), arguments.begin(), arguments.end());
      return root_.RunCommand(argv, timeout);
    }
    return root_.RunSkiff(arguments, timeout);
  }

  // Where getAppStatus writes; install runs name a path they never write.
  std::string OutputPath() const {
    return GetParam().drive == Drive::kStatus ? GetParam().options[0] : "/tmp/o";
  }

  // What skiff-host printed last: the final packet the log says was sent,
  // and how skiff ended.
  static std::string HostSaw(const FaultRow& row) {
    if (row.drive != Drive::kHost) return "";
    const std::string end = row.exitCode == 0 ? "result: success" : "result: failure (38)";
    // An installer that takes seconds gets progress packets first.
    const bool slow = std::any_of(row.plant.begin(), row.plant.end(),
                                  [](const Step& step) { return step.plant == Plant::kToolSleep; });
    for (const std::string& line : row.log) {
      if (line == "Operation complete")
        return (slow ? "progress 10\nprogress 100\n" : "progress 100\n") + end;
      if (line == "Operation failed") return "error 38\n" + end;
    }
    return end;
  }

  SkiffRoot root_;
};

TEST_P(FaultTableTest, SkiffSurvives) {
  const FaultRow& row = GetParam();
  if (row.drive == Drive::kStatus) {
    root_.AddInstallation();
    root_.WriteRequest("com.orvane.Folian.Pro_23.0,");
  } else {
    root_.Tools().SetOutput("pkgutil", SignatureReportText());
    root_.Tools().SetOutput("installer", "installer: The install was successful.\n");
    PlantStep(root_, {Plant::kInput, "/tmp/Pkg Dir/Folian Installer.pkg", "/tmp/proxy.xml"});
  }
  for (const Step& step : row.plant) PlantStep(root_, step);
  if (HasFatalFailure()) return;
  const auto before = Snapshot(root_);

  const SkiffResult result = RunSkiff(row);
  EXPECT_EQ(result.exitCode, row.exitCode) << result.Describe() << "\n" << result.stderrText;
  EXPECT_THAT(result.stdoutText, testing::HasSubstr(HostSaw(row)));
  const Lines lines = root_.LastRunLogLines();
  EXPECT_EQ(FirstMissingInOrder(lines, row.log), "");
  EXPECT_LE(std::count(lines.begin(), lines.end(), "Terminate pkt received"), 1);
  if (row.checks & (kNothingRuns | kNoInstaller | kBothRun)) {
    EXPECT_EQ(root_.Tools().Calls("pkgutil").size(), row.checks & kNothingRuns ? 0u : 1u);
    EXPECT_EQ(root_.Tools().Calls("installer").size(), row.checks & kBothRun ? 1u : 0u);
  }
  if (row.checks & kReportsProduct) {
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(root_.HostPath(OutputPath()))));
    EXPECT_THAT(root_.OutputDocument(OutputPath()),
                testing::HasSubstr("<appStatus>installed</appStatus>"));
  }
  if (row.extra) row.extra(root_);

  const auto after = Snapshot(root_);
  for (const auto& [path, entry] : before) {
    if (path == kLog || path == OutputPath() ||
        fs::path(path).filename() == "TempFileForLangPack.pdf") {
      continue;
    }
    const auto found = after.find(path);
    EXPECT_TRUE(found != after.end() && found->second == entry) << path << " was lost or changed";
  }
  for (const auto& [path, entry] : after) {
    const std::string folder = path + "/";
    EXPECT_TRUE(before.count(path) || !folder.rfind("/tmp/", 0) ||
                !folder.rfind("/Library/Logs/", 0))
        << path << " was created";
  }
}

const std::vector<FaultRow> kRows = {
    // The host at the other end of the pipes misbehaves.
    Row("NoHostEverConnects", Drive::kHost, {}, {"--never-connect"}, 38, kRefused, kNothingRuns),
    Survives("HostClosesItsWriterBeforeWriting", {}, {"--close-after=0"}),
    Survives("HostClosesAfterTheFirstPacket", {kSlowInstaller}, {"--close-after=1"}),
    Row("HostVanishesBeforeTheFinalPacket", Drive::kVanishingHost, {kSlowInstaller}, {"skiff-e2e"},
        0, {"Write to comm bridge failed", "Operation complete", "Terminate pkt received", kExit0},
        kBothRun),
    Survives("HostTerminatesAtOnce", {kSlowInstaller}, {"--terminate-at-once"}),
    Survives("HostAnswersLate", {}, {"--answer-late=1500"}),
    Survives("HostSplitsAHeader", {}, {"--split-header"}),
    Row("HostSendsUnusualIds", Drive::kHost, {}, {"--send-ids=0,10,18,77"}, 0,
        {"Operation complete", "CB_Pkt_Invalid packetID", "CB_Pkt_Error packetID",
         "CB_Pkt_Errors packetID", "Terminate pkt received", kExit0},
        kBothRun),
    // About 120 MB while the installer runs, which the full queue drops.
    Survives("HostFloodsTheLargestPackets", {{Plant::kToolSleep, "installer", "4000"}},
             {"--flood=300", "--terminate-at-once"}),

    // Something else at a pipe path, or a pipe name leading out of /tmp:
    // refused at once.
    Refused("SymlinkAtTheInPipe", {{Plant::kVictimLink, kIn}}),
    Refused("DirectoryAtTheInPipe", {{Plant::kDirectory, kIn}}),
    Refused("EmptyRegularFileAtTheInPipe", {{Plant::kFile, kIn, ""}}),
    Refused("PipeNameLeavingTmp", {}, "../Library/X"),

    // Paths in the documents that a shell or a fixed buffer would get wrong.
    Survives("ShellCharactersInThePackagePath", {{Plant::kInput, kShellPackage, "/tmp/proxy.xml"}},
             {},
             [](SkiffRoot& root) {
               ExpectToolsGot(root, kShellPackage);
               for (const char* marker : {"/tmp/pwned", "/tmp/pwned2", "/tmp/pwned3"}) {
                 EXPECT_FALSE(root.Exists(marker)) << marker;
               }
             }),
    Survives("PathBeyondAnyCommandBuffer", {{Plant::kInput, kLongPackage, "/tmp/proxy.xml"}}, {},
             [](SkiffRoot& root) { ExpectToolsGot(root, kLongPackage); }),
    Reports("EntityBombAndExternalEntity",
            {{Plant::kFile, "/tmp/secret", "SECRET"}, {Plant::kFile, "/tmp/input.xml", kBomb}},
            [](SkiffRoot& root) {
              EXPECT_THAT(root.LogText(), testing::Not(testing::HasSubstr("SECRET")));
              EXPECT_THAT(root.LogText(), testing::Not(testing::HasSubstr("aaaa")));
            }),

    // The system tools are missing or misbehave.
    Row("InstallerNotOnPath", Drive::kHost, {{Plant::kRemove, "", "installer"}}, {}, 38,
        {"RetVal of NSTask: for install/uninstall: 127", "Operation failed", kExit38},
        kNoInstaller),
    Row("PkgutilMissing", Drive::kHost, {{Plant::kRemove, "", "pkgutil"}}, {}, 38,
        {"Error in pkg validation", "TerminationStatus of pkg validation NSTask: 127",
         "Output of install command: PKG validation failed", "Operation failed", kExit38},
        0),
    Row("InstallerKilled", Drive::kHost, {{Plant::kToolSignal, "installer", "9"}}, {}, 38,
        {"RetVal of NSTask: for install/uninstall: 137", "Operation failed", kExit38}, kBothRun),
    Survives("InstallerPrintsFiftyMegabytes",
             {{Plant::kToolOutput, "installer", std::string(1 << 20, 'x')},
              {Plant::kToolRepeat, "installer", "50"}},
             {},
             [](SkiffRoot& root) {
               const Lines lines = root.LastRunLogLines();
               EXPECT_EQ(std::count(lines.begin(), lines.end(),
                                    "Output of install command: " + std::string(50 << 20, 'x')),
                         1);
             }),
    Row("InstallerPrintsInvalidUtf8", Drive::kHost,
        {{Plant::kToolOutput, "installer", "caf\xe9 done\xff"},
         {Plant::kToolStatus, "installer", "1"}},
        {}, 38,
        {"RetVal of NSTask: for install/uninstall: 1",
         "Output of install command: caf\xef\xbf\xbd done\xef\xbf\xbd", "Operation failed"},
        kBothRun),

    // The output document cannot be written where it should be, or the probe
    // file's name is taken.
    Row("FullFileSystemUnderTheOutput", Drive::kStatus,
        {{Plant::kTmpfs, "/tmp/full", "65536"}, {Plant::kFile, "/tmp/old.xml", kOld}},
        {"/tmp/full/output.xml",
         "cp /tmp/old.xml /tmp/full/output.xml && { cat /dev/zero >/tmp/full/fill; } 2>/dev/null;",
         "cp /tmp/full/output.xml /tmp/after.xml; ls -A /tmp/full >/tmp/after.list;"},
        38,
        {"Output xml path: /tmp/full/output.xml", "Error occurred while writing to XML", kExit38},
        0,
        [](SkiffRoot& root) {
          EXPECT_EQ(root.ReadFile("/tmp/after.xml"), kOld);
          EXPECT_EQ(root.ReadFile("/tmp/after.list"), "fill\noutput.xml\n");
        }),
    Row("OutputFolderMissing", Drive::kStatus, {}, {"/tmp/no/out.xml"}, 38,
        {"Output xml path: /tmp/no/out.xml", "Error occurred while writing to XML", kExit38}, 0,
        [](SkiffRoot& root) { EXPECT_FALSE(root.Exists("/tmp/no")); }),
    Reports("SymlinkAtTheOutput", {{Plant::kVictimLink, kOutput}}),
    Reports("SymlinkAtTheProbeFile", {{Plant::kVictimLink, kProbe}},
            [](SkiffRoot& root) { EXPECT_TRUE(root.Exists("/tmp/skiff-0/")); }),
    Reports("NulByteInABinaryPlistKey",
            {{Plant::kFile, "/Applications/Other.app/Contents/Info.plist",
              BinaryPlist({{"CFBundleName", "Other"}, {std::string("CFBundleName\0", 13), "X"}})}}),
};

INSTANTIATE_TEST_SUITE_P(Faults, FaultTableTest, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<FaultRow>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
