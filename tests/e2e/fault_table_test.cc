// skiff end to end, one run per row: rejected command lines, each operation
// once without fault, then the faults skiff must survive. The row prepares a fresh
// machine (planting its fault) and runs skiff; then the exit code, what the
// host saw, the log lines (in order) and the row's checks must hold, no file
// that was there before the run may be lost or changed (skiff's own log and
// output aside), and nothing may appear outside /tmp and the log folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <thread>

#include "tests/support/signature_report_text.h"
#include "tests/support/skiff_root.h"

namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Action = void (*)(SkiffRoot&);

constexpr char kIn[] = "/tmp/skiff-e2e_IN";
constexpr char kOutput[] = "/tmp/output.xml";
constexpr char kOld[] = "<response>old</response>";
constexpr char kUsageText[] =
    "Usage string: <path-to-exe> --mode=<launch-mode> --inputXml=<path-to-input-xml> "
    "--outputXml=<path-to-output-xml>";
constexpr char kUnable[] = "Unable to Parse command line";
constexpr char kFour[] = "Num of req params found: 4";
const std::string kExit0 = "Skiff exited with error code: 0";
const std::string kExit38 = "Skiff exited with error code: 38";
const Lines kRefused = {"In Do Operation", "Not able to init comm bridge bailing out", kExit38};
const std::string kPackage = "/tmp/Pkg Dir/Folian Installer.pkg";
const std::string kEscapedPackage = "/tmp/Pkg\\ Dir/Folian\\ Installer.pkg";
const std::string kInstalled =
    "<response><sapCode>FLNX</sapCode><version>23.0</version><platform>osx10-64</platform>"
    "<status><appStatus>installed</appStatus><installedData><isUninstallable>true"
    "</isUninstallable><isLaunchable>true</isLaunchable></installedData></status>"
    "<bundleID>com.orvane.Folian.Pro</bundleID></response>";
constexpr char kRemover[] = "Remover Tool";  // named by the proxy document
// Each way of running a command that a shell offers creates /tmp/pwned.
const std::string kEvilPackage =
    "/tmp/$(touch /tmp/pwned) `touch /tmp/pwned`; touch /tmp/pwned 'q\"/Folian Installer.pkg";

enum class Drive {
  kCommandLine,  // skiff alone, options: its arguments, --outputXml=/tmp/output.xml if any
  kHost,         // install under skiff-host, options: its own
  kAlone,        // install with nobody at the pipes
  kStatus,       // getAppStatus, options: none, or {output path, shell script running skiff}
  kLaunch,       // launchApp
  kUninstall,    // uninstall under skiff-host, options: its own
};

struct FaultRow {
  const char* name;
  Drive drive;
  Lines options;
  Action plant;  // before the run, may be null
  int exitCode;
  Lines log;  // in this order, other lines between
  // The stand-in tools that ran, once each: 0 none, 1 the package check, 2 the
  // check and the installer; -1 not looked at.
  int toolsRan;
  Action check;  // after the run, may be null
  friend void PrintTo(const FaultRow& row, std::ostream* out) { *out << row.name; }
};

FaultRow Row(const char* name, Drive drive, Lines options, Action plant, int exitCode, Lines log,
             int toolsRan, Action check = nullptr) {
  return {name, drive, options, plant, exitCode, log, toolsRan, check};
}

// install under skiff-host, ending as if nothing had happened
FaultRow Survives(const char* name, Lines options, Action plant = nullptr, Action check = nullptr) {
  return Row(name, Drive::kHost, options, plant, 0,
             {"Operation complete", "Terminate pkt received", kExit0}, 2, check);
}

void SlowInstaller(SkiffRoot& root) { root.SetTool("installer", "sleep", "2500"); }

// An installation on `track` whose remover tool lies in /Applications, and
// the uninstall input naming it.
void Removable(SkiffRoot& root, const std::string& track) {
  ProductInstallation installation;
  installation.track = track;
  root.AddInstallation(installation);
  root.AddTool(std::string("/Applications/") + kRemover);
  root.SetTool(kRemover, "output", "removed\n");
  root.WriteUninstallInput("[OrvaneProgramFiles]", std::string("[INSTALLDIR]/") + kRemover);
}

// A link at `path` to a file that must stay as it is.
void VictimLink(SkiffRoot& root, const std::string& path) {
  ASSERT_EQ(symlink(root.WriteFile("/tmp/victim", "keep me").c_str(), root.HostPath(path).c_str()),
            0);
}

// The type, permissions and a file's contents or a link's target of each
// path in the root but its infrastructure (host trees, binaries, tools);
// FIFOs are never opened.
std::map<std::string, std::string> Snapshot(const SkiffRoot& root) {
  static const std::regex kInfrastructure("/(usr|etc|dev|proc|bin|sbin|opt|lib(32|64|x32)?)");
  std::map<std::string, std::string> entries;
  for (auto it = fs::recursive_directory_iterator(root.root()); it != fs::end(it); ++it) {
    const std::string inside = it->path().string().substr(root.root().size());
    const fs::file_status status = it->symlink_status();
    if (std::regex_match(inside, kInfrastructure)) {
      it.disable_recursion_pending();
      continue;
    }
    entries[inside] = std::to_string(static_cast<int>(status.type())) + " " +
                      std::to_string(static_cast<int>(status.permissions())) + " " +
                      (fs::is_regular_file(status) ? ReadFileOrDie(it->path())
                       : fs::is_symlink(status)    ? fs::read_symlink(it->path()).string()
                                                   : "");
  }
  return entries;
}

class FaultTableTest : public ::testing::TestWithParam<FaultRow> {
 protected:
  // Where getAppStatus writes; install runs name a path they never write.
  static std::string Output(const FaultRow& row) {
    return row.drive != Drive::kStatus ? "/tmp/o" : row.options.empty() ? kOutput : row.options[0];
  }

  SkiffResult Run(const FaultRow& row) {
    // A refusal must come long before a host would have been waited for.
    const std::chrono::seconds timeout(row.drive == Drive::kAlone ? 20 : 120);
    const char* const modes[] = {"",          "install",  "install", "getAppStatus",
                                 "launchApp", "uninstall"};
    const std::string mode = modes[static_cast<int>(row.drive)];
    const Lines arguments = row.drive == Drive::kCommandLine
                                ? row.options
                                : SkiffRoot::ModeArguments(mode, Output(row));
    if (row.drive == Drive::kHost || row.drive == Drive::kUninstall) {
      return root_.RunHost(mode, row.options, timeout);
    }
    if (row.drive != Drive::kStatus || row.options.empty()) {
      return root_.RunSkiff(arguments, timeout);
    }
    Lines argv = {"/bin/sh", "-c", row.options[1], "sh"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return root_.RunCommand(argv, timeout);
  }

  // The end of skiff-host's output: the final packet the log says was sent,
  // after a progress packet when the installer took seconds, and how skiff
  // ended.
  std::string HostSaw(const FaultRow& row) {
    if (row.drive != Drive::kHost && row.drive != Drive::kUninstall) return "";
    if (row.exitCode == 0) {
      return (row.plant == SlowInstaller ? "progress 10\n" : "") +
             std::string("progress 100\nresult: success");
    }
    const bool failed = std::count(row.log.begin(), row.log.end(), "Operation failed") > 0;
    return (failed ? "error 38\n" : "") + std::string("result: failure (38)");
  }

  SkiffRoot root_;
};

TEST_P(FaultTableTest, SkiffSurvives) {
  const FaultRow& row = GetParam();
  if (row.drive == Drive::kCommandLine) {
    root_.WriteFile(kOutput, kOld);
  } else if (row.drive == Drive::kStatus || row.drive == Drive::kLaunch) {
    root_.AddInstallation();
    root_.WriteRequest(row.drive == Drive::kLaunch ? "com.orvane.Folian.Pro"
                                                   : "com.orvane.Folian.Pro_23.0,");
  } else if (row.drive == Drive::kUninstall) {
    Removable(root_, "Evergreen");
  } else {  // install
    root_.SetTool("pkgutil", "output", SignatureReportText());
    root_.SetTool("installer", "output", "installer: The install was successful.\n");
    root_.WriteInstallInput(kPackage);
  }
  if (row.plant) row.plant(root_);
  if (HasFatalFailure()) return;
  const auto before = Snapshot(root_);

  const SkiffResult result = Run(row);
  EXPECT_EQ(result.exitCode, row.exitCode) << result.Describe() << "\n" << result.stderrText;
  EXPECT_THAT(result.stdoutText, HasSubstr(HostSaw(row)));
  const Lines lines = root_.LastRunLogLines();
  EXPECT_EQ(FirstMissingInOrder(lines, row.log), "");
  if (row.drive == Drive::kCommandLine) {  // nothing but the usage text, and the whole log
    EXPECT_EQ(result.stderrText + result.stdoutText, row.exitCode == 0 ? kUsageText : "");
    EXPECT_EQ(lines, row.log);
  }
  EXPECT_LE(std::count(lines.begin(), lines.end(), "Terminate pkt received"), 1);
  if (row.toolsRan >= 0) {
    EXPECT_EQ(root_.ToolCalls("pkgutil").size(), row.toolsRan >= 1 ? 1u : 0u);
    EXPECT_EQ(root_.ToolCalls("installer").size(), row.toolsRan == 2 ? 1u : 0u);
  }
  if (row.drive == Drive::kLaunch) {  // the product's one start, which outlives skiff
    for (int i = 0; i < 500 && root_.OutputDocument("/tmp/launched.txt").empty(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(root_.OutputDocument("/tmp/launched.txt"),
              "/Applications/Orvane Folian.app/Contents/MacOS/Folian\n--end--\n");
  }
  if (row.check) row.check(root_);

  const auto after = Snapshot(root_);
  for (const auto& [path, entry] : before) {
    if (path == "/Library/Logs/Orvane/Installers/FLNXInstaller.log" || path == Output(row))
      continue;
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

// A command line with the given arguments whose whole log between the
// version line and the exit line is `log`; 0 comes with the usage text.
FaultRow CommandLine(const char* name, Lines arguments, int exitCode, Lines log) {
  log.insert(log.begin(), {"Skiff has launched", "Skiff version=23.3.20269"});
  log.push_back("Skiff exited with error code: " + std::to_string(exitCode));
  return Row(name, Drive::kCommandLine, arguments, nullptr, exitCode, log, -1);
}

const std::vector<FaultRow> kRows = {
    // A bad command line is answered with the usage text and 0; a document that
    // cannot be read is a failed run (38), and an answer left at --outputXml by
    // an earlier run stays as it was. A repeated option counts again, so a
    // missing one can go unnoticed: the last mode runs.
    CommandLine("NoArguments", {}, 0, {kUnable}),
    CommandLine("ModeInOtherCase",
                {"--mode=LaunchApp", "--inputXml=/i", "--outputXml=/o", "--pipeName=p"}, 0,
                {kFour, kUnable}),
    CommandLine(
        "RepeatedModeWithoutPipeName",
        {"--mode=install", "--mode=getAppStatus", "--inputXml=/i", "--outputXml=/tmp/output.xml"},
        38, {kFour, "Failure in getapp status and launch op internal", kUnable}),
    CommandLine("InputPathNotUtf8",
                {"--mode=launchApp", "--inputXml=/tmp/\xff.xml", "--outputXml=", "--pipeName="}, 38,
                {kFour, "Error thrown and caught in main"}),

    // Each operation once, without fault.
    Row("StatusOfAnEvergreenInstallation", Drive::kStatus, {}, nullptr, 0, {}, -1,
        [](SkiffRoot& root) {
          EXPECT_THAT(
              root.LastRunLogLines(),
              ElementsAre(
                  "Skiff has launched", "Skiff version=23.3.20269", "Num of req params found: 4",
                  "In getapp status and launch op internal",
                  "BundleInfo list: com.orvane.Folian.Pro_23.0,",
                  "BundleInfo list for Appstatus from input xml: com.orvane.Folian.Pro_23.0,",
                  "Get app status operation detected", "In Do Operation Synchronously", "In thread",
                  "main BundleID for getAppStratus:com.orvane.Folian.Pro",
                  "BundleID for getting App URL to launch: com.orvane.Folian.Pro",
                  "Fetched all PDF Editors successfully", "Found Evergreen track for launch",
                  "Send Evergreen track for launch",
                  "NSURL found for launch: file:///Applications/Orvane%20Folian.app/",
                  "Installed app track: Evergreen",
                  "Bundle ID version string passed: com.orvane.Folian.Pro_23.0",
                  "Bundle ID version string passed: ", "Calculated FFC version list",
                  "Installed app version: 23.008.20470",
                  "App path found: /Applications/Orvane Folian.app",
                  "Found NSBundleExecutableArchitectureX86_64", "Detected target app on machine",
                  "Generated output.xml: " + kInstalled, "In write to output XML",
                  "Loaded from string into xml", "Output xml str: " + kInstalled,
                  "Output xml path: /tmp/output.xml", "Saved to xml", kExit0));
          EXPECT_EQ(root.OutputDocument(),
                    "<?xml version=\"1.0\" encoding=\"utf-8\"?>" + kInstalled);
        }),
    // The desktop's opening starts the main executable without arguments.
    Row("LaunchThroughTheDesktop", Drive::kLaunch, {}, nullptr, 0,
        {"Launch operation detected", "Launching target app",
         "App will be launched without upgrade parameter.", "Launched target app", kExit0},
        -1),
    Row("InstallASignedPackage", Drive::kHost, {}, SlowInstaller, 0,
        {"Install operation detected", "In Do Operation", "After init comm bridge",
         "Thread created", "In while loop pre wait", "In while loop post wait",
         "Operation status: 1", "Thread is done, I have been notified", "Operation complete",
         "Terminate pkt received", kExit0},
        2,
        [](SkiffRoot& root) {
          EXPECT_EQ(
              FirstMissingInOrder(
                  root.LastRunLogLines(),
                  {"In thread", "In RunInstall", "PKG path for verification: " + kEscapedPackage,
                   "All certs present, pkg validation succeeded",
                   "PKG path sent: " + kEscapedPackage,
                   "command run: installer -pkg " + kEscapedPackage + " -tgt /",
                   "RetVal of NSTask: for install/uninstall: 0",
                   "Output of install command: installer: The install was successful."}),
              "");
          // The pipes stay for the next run.
          EXPECT_TRUE(root.Exists(kIn) && root.Exists("/tmp/skiff-e2e_OUT"));
        }),
    Row("UninstallEvergreen", Drive::kUninstall, {}, nullptr, 0,
        {"Uninstall operation detected", "In Do Operation", "After init comm bridge", "In thread",
         "bundle id in RunUninstall: com.orvane.Folian.Pro",
         "Evergreen track found, uninstalling...",
         "command run: /Applications/Remover\\ Tool /Applications/Remover\\ Tool "
         "/Applications/Orvane\\ Folian.app/Contents/Frameworks/Folian.framework/Folian.app",
         "RetVal of NSTask: for install/uninstall: 0", "Output of uninstall command: removed",
         "Operation complete", "Terminate pkt received", kExit0},
        -1,
        [](SkiffRoot& root) {
          // The remover tool ran once with its path and the application path,
          // each one argument.
          EXPECT_THAT(root.ToolCalls(kRemover),
                      ElementsAre(Lines{"/Applications/Remover Tool",
                                        "/Applications/Orvane Folian.app/Contents/Frameworks/"
                                        "Folian.framework/Folian.app"}));
        }),

    // The faults: nobody at the other end of the pipes within the 60 seconds,
    // a host that closes its writer after the first packet, something else at
    // a pipe path.
    Row("NoHostEverConnects", Drive::kHost, {"--never-connect"}, nullptr, 38, kRefused, 0),
    Survives("HostClosesAfterTheFirstPacket", {"--close-after=1"}, SlowInstaller),
    Row(
        "SymlinkAtTheInPipe", Drive::kAlone, {}, [](SkiffRoot& root) { VictimLink(root, kIn); }, 38,
        kRefused, 0),

    // What the installation or the documents hold, and what the tools do.
    Row(
        "UninstallOfAPreviewInstallation", Drive::kUninstall, {},
        [](SkiffRoot& root) { Removable(root, "Preview"); }, 38,
        {"Other track than Evergreen installed we will not uninstall",
         "Output of uninstall command: ", "Operation failed", kExit38},
        -1, [](SkiffRoot& root) { EXPECT_THAT(root.ToolCalls(kRemover), testing::IsEmpty()); }),
    // Our package utility accepts the package at a path that reaches it and
    // the installer through the shell, as one argument each.
    Row(
        "ShellCharactersInThePathToOurPackageUtility", Drive::kHost, {},
        [](SkiffRoot& root) {
          root.WriteInstallInput(kEvilPackage);
          root.UsePackageUtility(kEvilPackage);
        },
        0,
        {"All certs present, pkg validation succeeded",
         "RetVal of NSTask: for install/uninstall: 0", kExit0},
        -1,
        [](SkiffRoot& root) {
          EXPECT_THAT(root.ToolCalls("installer"),
                      ElementsAre(Lines{"-pkg", kEvilPackage, "-tgt", "/"}));
          EXPECT_FALSE(root.Exists("/tmp/pwned"));
        }),
    Row(
        "InstallerPrintsInvalidUtf8", Drive::kHost, {},
        [](SkiffRoot& root) {
          root.SetTool("installer", "output", "caf\xe9 done\xff");
          root.SetTool("installer", "status", "1");
        },
        38,
        {"RetVal of NSTask: for install/uninstall: 1",
         "Output of install command: caf\xef\xbf\xbd done\xef\xbf\xbd", "Operation failed"},
        2),

    // The output document cannot be written where it should be: the answer
    // left there stays whole.
    Row(
        "FullFileSystemUnderTheOutput", Drive::kStatus,
        {"/tmp/full/output.xml",
         "cp /tmp/old.xml /tmp/full/output.xml && { cat /dev/zero >/tmp/full/fill; } 2>/dev/null; "
         "/opt/skiff/bin/skiff \"$@\"; status=$?; cp /tmp/full/output.xml /tmp/after.xml; "
         "ls -A /tmp/full >/tmp/after.list; exit $status"},
        [](SkiffRoot& root) {
          root.AddTmpfs("/tmp/full", 65536);
          root.WriteFile("/tmp/old.xml", kOld);
        },
        38,
        {"Output xml path: /tmp/full/output.xml", "Error occurred while writing to XML", kExit38},
        -1,
        [](SkiffRoot& root) {
          EXPECT_EQ(root.ReadFile("/tmp/after.xml"), kOld);
          EXPECT_EQ(root.ReadFile("/tmp/after.list"), "fill\noutput.xml\n");
        }),
    // A link at the output is replaced; the file it names stays.
    Row(
        "SymlinkAtTheOutput", Drive::kStatus, {},
        [](SkiffRoot& root) { VictimLink(root, kOutput); }, 0,
        {"Detected target app on machine", "Saved to xml"}, -1,
        [](SkiffRoot& root) {
          EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(root.HostPath(kOutput))));
        }),
};

INSTANTIATE_TEST_SUITE_P(Runs, FaultTableTest, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<FaultRow>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
