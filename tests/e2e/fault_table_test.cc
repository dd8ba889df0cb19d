// skiff end to end, one run per row: rejected command lines, each operation
// once without fault, then the faults skiff must survive. The row prepares a fresh
// machine (planting its fault) and runs skiff; then the exit code, what the
// host saw, the log lines (in order) and the row's checks must hold, no file
// that was there before the run may be lost or changed (skiff's own log,
// output and probe files aside), and nothing may appear outside /tmp and the
// log folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
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
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Action = void (*)(SkiffRoot&);

constexpr char kPipe[] = "skiff-e2e";
constexpr char kIn[] = "/tmp/skiff-e2e_IN";
constexpr char kOutput[] = "/tmp/output.xml";
constexpr char kOld[] = "<response>old</response>";
constexpr char kUsageText[] =
    "Usage string: <path-to-exe> --mode=<launch-mode> --inputXml=<path-to-input-xml> "
    "--outputXml=<path-to-output-xml>";
constexpr char kUnable[] = "Unable to Parse command line";
constexpr char kFour[] = "Num of req params found: 4";
constexpr char kNoDocument[] = "Failure in getapp status and launch op internal";
const std::string kExit0 = "Skiff exited with error code: 0";
const std::string kExit38 = "Skiff exited with error code: 38";
const Lines kRefused = {"In Do Operation", "Not able to init comm bridge bailing out", kExit38};
const Lines kNormalEnd = {"Operation complete", "Terminate pkt received", kExit0};
const std::string kPackage = "/tmp/Pkg Dir/Folian Installer.pkg";
const std::string kEscapedPackage = "/tmp/Pkg\\ Dir/Folian\\ Installer.pkg";
const std::string kUrl = "NSURL found for launch: file:///Applications/Orvane%20Folian.app/";
const std::string kExecutable = "/Applications/Orvane Folian.app/Contents/MacOS/Folian";
const std::string kInstalled =
    "<response><sapCode>FLNX</sapCode><version>23.0</version><platform>osx10-64</platform>"
    "<status><appStatus>installed</appStatus><installedData><isUninstallable>true"
    "</isUninstallable><isLaunchable>true</isLaunchable></installedData></status>"
    "<bundleID>com.orvane.Folian.Pro</bundleID></response>";
constexpr char kRemover[] = "Remover Tool";  // named by the proxy document
const std::string kAppBelow = "/Orvane Folian.app/Contents/Frameworks/Folian.framework/Folian.app";
// Each way of running a command that a shell offers creates /tmp/pwned.
const std::string kEvil = "/$(touch /tmp/pwned) `touch /tmp/pwned`; touch /tmp/pwned 'q\"";
const std::string kLongPackage = "/tmp/" + std::string(600, 'p') + "/Folian Installer.pkg";
constexpr char kBomb[] =
    "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\">"
    "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
    "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY x SYSTEM \"file:///tmp/secret\">]>"
    "<r><bundleInfo>com.orvane.Folian.Pro_23.0&d;&x;</bundleInfo><workflow>&d;</workflow></r>";
// A binary property list: {"CFBundleName": "Other", "CFBundleName\0": "X",
// "CFBundleDocumentTypes": "X"}; the last key makes the registry parse it.
const std::string kNulKeyPlist(
    "bplist00\xd3\x01\x02\x03\x04\x05\x06\\CFBundleName]CFBundleName\0_\x10\x15"
    "CFBundleDocumentTypesUOtherQXQX\x08\x0f\x1c*BHJ"
    "\0\0\0\0\0\0\x01\x01\0\0\0\0\0\0\0\x07\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0L",
    115);

enum class Drive {
  kCommandLine,    // skiff alone, options: its arguments, --outputXml=/tmp/output.xml if any
  kHost,           // install under skiff-host, options: its own
  kAlone,          // install with nobody at the pipes, options: {pipe name}
  kVanishingHost,  // install; the host takes one packet, then closes both ends
  kStatus,         // getAppStatus, options: none, or {output path, shell before, after}
  kLaunch,         // launchApp, options: the arguments the product is started with
  kUninstall,      // uninstall under skiff-host, options: its own
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
  return Row(name, Drive::kHost, options, plant, 0, kNormalEnd, 2, check);
}

// install with nobody at the pipes, refused before anything runs
FaultRow Refused(const char* name, Action plant, std::string pipeName = kPipe) {
  return Row(name, Drive::kAlone, {pipeName}, plant, 38, kRefused, 0);
}

// getAppStatus still reporting the product
FaultRow Reports(const char* name, Action plant, Action check = nullptr) {
  return Row(name, Drive::kStatus, {}, plant, 0, {"Detected target app on machine", "Saved to xml"},
             -1, check);
}

void SlowInstaller(SkiffRoot& root) {
  root.Tools().SetSleep("installer", std::chrono::milliseconds(2500));
}

// An installation on `track` whose remover tool lies below /Applications +
// `folder`, and the uninstall input naming it.
void Removable(SkiffRoot& root, const std::string& track, const std::string& folder) {
  ProductInstallation installation;
  installation.track = track;
  root.AddInstallation(installation);
  root.InstallFakeTool("/Applications" + folder + "/" + kRemover);
  root.Tools().SetOutput(kRemover, "removed\n");
  root.WriteFile("/tmp/proxy.xml", UninstallProxyDocument("[OrvaneProgramFiles]" + folder,
                                                          std::string("[INSTALLDIR]/") + kRemover));
  root.WriteFile(SkiffRoot::kInputPath,
                 DeploymentDocument(
                     {{"proxyFile", "/tmp/proxy.xml"}, {"bundleInfo", "com.orvane.Folian.Pro"}}));
}

// The remover tool ran once with its path and the application path, each one
// argument.
void ExpectRemoverGot(SkiffRoot& root, const std::string& folder) {
  EXPECT_THAT(root.Tools().Calls(kRemover),
              ElementsAre(Lines{folder + "/" + kRemover, folder + kAppBelow}));
}

// A link at `path` to a file that must stay as it is.
void VictimLink(SkiffRoot& root, const std::string& path) {
  root.MakeDirectories(fs::path(path).parent_path());
  ASSERT_EQ(symlink(root.WriteFile("/tmp/victim", "keep me").c_str(), root.HostPath(path).c_str()),
            0);
}

// Each tool was called once, with the package path as one argument.
void ExpectToolsGot(SkiffRoot& root, const std::string& package) {
  EXPECT_THAT(root.Tools().Calls("pkgutil"),
              testing::ElementsAre(Lines{"--check-signature", package}));
  EXPECT_THAT(root.Tools().Calls("installer"),
              testing::ElementsAre(Lines{"-pkg", package, "-tgt", "/"}));
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
    const char* const modes[] = {"",          "install",  "install", "install", "getAppStatus",
                                 "launchApp", "uninstall"};
    const std::string mode = modes[static_cast<int>(row.drive)];
    const Lines arguments =
        row.drive == Drive::kCommandLine
            ? row.options
            : SkiffRoot::ModeArguments(mode, Output(row),
                                       row.drive == Drive::kAlone ? row.options[0] : kPipe);
    if (row.drive == Drive::kHost || row.drive == Drive::kUninstall) {
      return root_.RunHost(mode, row.options, timeout);
    }
    if (row.drive == Drive::kVanishingHost) {
      HostBehaviour behaviour;
      behaviour.answerFinalPacket = false;
      auto host = std::make_unique<PipeHost>(root_.HostPath("/tmp/"), kPipe, behaviour);
      auto skiff = root_.StartSkiff(arguments);
      EXPECT_EQ(host->WaitForPackets(1).size(), 1u);
      host.reset();
      return skiff.Wait(timeout);
    }
    if (row.drive != Drive::kStatus || row.options.empty()) {
      return root_.RunSkiff(arguments, timeout);
    }
    Lines argv = {"/bin/sh", "-c",
                  row.options[1] + " " + SkiffRoot::kSkiffPath + " \"$@\"; status=$?; " +
                      row.options[2] + " exit $status",
                  "sh"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return root_.RunCommand(argv, timeout);
  }

  // The end of skiff-host's output: the final packet the log says was sent,
  // after a progress packet when the installer took seconds, and how skiff
  // ended.
  std::string HostSaw(const FaultRow& row) {
    if (row.drive != Drive::kHost && row.drive != Drive::kUninstall) return "";
    if (row.exitCode == 0) {
      return (PathExists(root_.Tools().folder() + "/installer.sleep") ? "progress 10\n" : "") +
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
  } else if (row.drive == Drive::kStatus) {
    root_.AddInstallation();
    root_.WriteRequest("com.orvane.Folian.Pro_23.0,");
  } else if (row.drive == Drive::kLaunch) {  // a runnable single-client installation
    ProductInstallation installation;
    installation.executable = ProductExecutable::kRunnable;
    installation.foliSca = true;
    root_.AddInstallation(installation);
    root_.WriteInstallerPreferences("Evergreen", true, false);
    root_.WriteRequest("com.orvane.Folian.Pro");
  } else if (row.drive == Drive::kUninstall) {
    Removable(root_, "Evergreen", "");
  } else {  // install
    root_.Tools().SetOutput("pkgutil", SignatureReportText());
    root_.Tools().SetOutput("installer", "installer: The install was successful.\n");
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
    Lines expected = {"Skiff has launched", "Skiff version=23.3.20269"};
    expected.insert(expected.end(), row.log.begin(), row.log.end());
    EXPECT_EQ(lines, expected);
  }
  EXPECT_LE(std::count(lines.begin(), lines.end(), "Terminate pkt received"), 1);
  if (row.toolsRan >= 0) {
    EXPECT_EQ(root_.Tools().Calls("pkgutil").size(), row.toolsRan >= 1 ? 1u : 0u);
    EXPECT_EQ(root_.Tools().Calls("installer").size(), row.toolsRan == 2 ? 1u : 0u);
  }
  if (row.drive == Drive::kStatus && row.exitCode == 0) {
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(root_.HostPath(Output(row)))));
  }
  if (row.drive == Drive::kLaunch) {  // the product's one start, unless the launch failed
    Lines argv = {kExecutable};
    argv.insert(argv.end(), row.options.begin(), row.options.end());
    EXPECT_EQ(root_.WaitForLaunches(row.exitCode == 0 ? 1 : 0),
              row.exitCode == 0 ? std::vector<Lines>{argv} : std::vector<Lines>{});
  }
  if (row.check) row.check(root_);

  const auto after = Snapshot(root_);
  for (const auto& [path, entry] : before) {
    if (path == "/Library/Logs/Orvane/Installers/FLNXInstaller.log" || path == Output(row) ||
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

// A command line with the given arguments whose whole log between the
// version line and the exit line is `log`; 0 comes with the usage text.
FaultRow CommandLine(const char* name, Lines arguments, int exitCode, Lines log) {
  log.push_back("Skiff exited with error code: " + std::to_string(exitCode));
  return Row(name, Drive::kCommandLine, arguments, nullptr, exitCode, log, -1);
}

const std::vector<FaultRow> kRows = {
    // A bad command line is answered with the usage text and 0; a document that
    // cannot be read is a failed run (38), and an answer left at --outputXml by
    // an earlier run stays as it was. A repeated option counts again, so a
    // missing one can go unnoticed: the last mode runs.
    CommandLine("NoArguments", {}, 0, {kUnable}),
    CommandLine("ThreeOptionsAndAnother",
                {"-v", "--mode=getAppStatus", "--inputXml=/i", "--outputXml=/o"}, 0,
                {"Num of req params found: 3", kUnable}),
    CommandLine("ModeInOtherCase",
                {"--mode=LaunchApp", "--inputXml=/i", "--outputXml=/o", "--pipeName=p"}, 0,
                {kFour, kUnable}),
    CommandLine(
        "RepeatedModeWithoutPipeName",
        {"--mode=install", "--mode=getAppStatus", "--inputXml=/i", "--outputXml=/tmp/output.xml"},
        38, {kFour, kNoDocument, kUnable}),
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
                  "Send Evergreen track for launch", kUrl, "Installed app track: Evergreen",
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
    Row(
        "StatusWithoutInstallation", Drive::kStatus, {},
        [](SkiffRoot& root) {
          root.WriteRequest("com.orvane.Folian.Pro_23.0,", std::string("upsell"));
          fs::remove_all(root.HostPath("/Applications/Orvane Folian.app"));
        },
        0, {"Not able to detect target app on machine", "Saved to xml", kExit0}, -1),
    // The desktop's opening starts the main executable without arguments; a
    // single-client upsell starts it directly with "/z" alone.
    Row("LaunchThroughTheDesktop", Drive::kLaunch, {}, nullptr, 0,
        {"Launching target app", kUrl, "App will be launched without upgrade parameter.",
         "Launched target app", kExit0},
        -1),
    Row(
        "LaunchWithTheUpgradeArgument", Drive::kLaunch, {"/z"},
        [](SkiffRoot& root) { root.WriteRequest("com.orvane.Folian.Pro", std::string("upsell")); },
        0,
        {"Recieved workflow id as : upsell",
         "BundleID for launch from input xml: com.orvane.Folian.Pro", "Launch operation detected",
         "Installed app track: Evergreen", "Received workfow as upsell.",
         "App will be launched with upgrade parameter.", "Launched target app", kExit0},
        -1),
    Row(
        "LaunchWithoutInstallation", Drive::kLaunch, {},
        [](SkiffRoot& root) { fs::remove_all(root.HostPath("/Applications/Orvane Folian.app")); },
        38, {kExit38}, -1),
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
    Row(
        "InstallWithOurPackageUtility", Drive::kHost, {},
        [](SkiffRoot& root) { root.UsePackageUtility(kPackage, false); }, 0,
        {"All certs present, pkg validation succeeded",
         "RetVal of NSTask: for install/uninstall: 0", kExit0},
        -1),
    Row("UninstallEvergreen", Drive::kUninstall, {}, nullptr, 0,
        {"Uninstall operation detected", "In Do Operation", "After init comm bridge", "In thread",
         "bundle id in RunUninstall: com.orvane.Folian.Pro",
         "Evergreen track found, uninstalling...",
         "command run: /Applications/Remover\\ Tool /Applications/Remover\\ Tool "
         "/Applications/Orvane\\ Folian.app/Contents/Frameworks/Folian.framework/Folian.app",
         "RetVal of NSTask: for install/uninstall: 0", "Output of uninstall command: removed",
         "Operation complete", "Terminate pkt received", kExit0},
        -1, [](SkiffRoot& root) { ExpectRemoverGot(root, "/Applications"); }),

    // The faults: the host at the other end of the pipes misbehaves.
    Row("NoHostEverConnects", Drive::kHost, {"--never-connect"}, nullptr, 38, kRefused, 0),
    Survives("HostClosesItsWriterBeforeWriting", {"--close-after=0"}),
    Survives("HostClosesAfterTheFirstPacket", {"--close-after=1"}, SlowInstaller),
    Row("HostVanishesBeforeTheFinalPacket", Drive::kVanishingHost, {}, SlowInstaller, 0,
        {"Write to comm bridge failed", "Operation complete", "Terminate pkt received", kExit0}, 2),
    Survives("HostTerminatesAtOnce", {"--terminate-at-once"}, SlowInstaller),
    Survives("HostAnswersLate", {"--answer-late=1500"}),
    Survives("HostSplitsAHeader", {"--split-header"}),
    Row("HostSendsUnusualIds", Drive::kHost, {"--send-ids=0,10,18,77"}, nullptr, 0,
        {"Operation complete", "CB_Pkt_Invalid packetID", "CB_Pkt_Error packetID",
         "CB_Pkt_Errors packetID", "Terminate pkt received", kExit0},
        2),
    // About 120 MB while the installer runs, which the full queue drops.
    Survives("HostFloodsTheLargestPackets", {"--flood=300", "--terminate-at-once"},
             [](SkiffRoot& root) { root.Tools().SetSleep("installer", std::chrono::seconds(4)); }),

    // Something else at a pipe path, or a pipe name leading out of /tmp:
    // refused at once.
    Refused("SymlinkAtTheInPipe", [](SkiffRoot& root) { VictimLink(root, kIn); }),
    Refused("DirectoryAtTheInPipe", [](SkiffRoot& root) { root.MakeDirectories(kIn); }),
    Refused("EmptyRegularFileAtTheInPipe", [](SkiffRoot& root) { root.WriteFile(kIn, ""); }),
    Refused("PipeNameLeavingTmp", nullptr, "../Library/X"),

    // What a package, the installation or the documents hold.
    Row(
        "TamperedPackage", Drive::kHost, {},
        [](SkiffRoot& root) { root.UsePackageUtility(kPackage, true); }, 38,
        {"Error in pkg validation", "TerminationStatus of pkg validation NSTask: 1",
         "Output of install command: PKG validation failed", "Operation failed", kExit38},
        -1, [](SkiffRoot& root) { EXPECT_EQ(root.Tools().Calls("installer").size(), 0u); }),
    Row(
        "UninstallOfAPreviewInstallation", Drive::kUninstall, {},
        [](SkiffRoot& root) { Removable(root, "Preview", ""); }, 38,
        {"Other track than Evergreen installed we will not uninstall",
         "Output of uninstall command: ", "Operation failed", kExit38},
        -1, [](SkiffRoot& root) { EXPECT_THAT(root.Tools().Calls(kRemover), testing::IsEmpty()); }),
    Row(
        "RemoverFails", Drive::kUninstall, {},
        [](SkiffRoot& root) { root.Tools().SetStatus(kRemover, 3); }, 38,
        {"RetVal of NSTask: for install/uninstall: 3", "Operation failed", kExit38}, -1),
    Row(
        "ShellCharactersInTheRemoverPath", Drive::kUninstall, {},
        [](SkiffRoot& root) { Removable(root, "Evergreen", kEvil); }, 0, kNormalEnd, -1,
        [](SkiffRoot& root) {
          ExpectRemoverGot(root, "/Applications" + kEvil);
          EXPECT_FALSE(root.Exists("/tmp/pwned"));
        }),

    Survives(
        "ShellCharactersInThePackagePath", {},
        [](SkiffRoot& root) { root.WriteInstallInput("/tmp" + kEvil + "/Folian Installer.pkg"); },
        [](SkiffRoot& root) {
          ExpectToolsGot(root, "/tmp" + kEvil + "/Folian Installer.pkg");
          EXPECT_FALSE(root.Exists("/tmp/pwned"));
        }),
    Survives(
        "PathBeyondAnyCommandBuffer", {},
        [](SkiffRoot& root) { root.WriteInstallInput(kLongPackage); },
        [](SkiffRoot& root) { ExpectToolsGot(root, kLongPackage); }),
    Reports(
        "EntityBombAndExternalEntity",
        [](SkiffRoot& root) {
          root.WriteFile("/tmp/secret", "SECRET");
          root.WriteFile(SkiffRoot::kInputPath, kBomb);
        },
        [](SkiffRoot& root) {
          EXPECT_THAT(
              root.LastRunLogLines(),
              testing::Each(testing::Not(testing::AnyOf(HasSubstr("SECRET"), HasSubstr("aaaa")))));
        }),

    // The system tools are missing or misbehave.
    Row(
        "InstallerNotOnPath", Drive::kHost, {},
        [](SkiffRoot& root) { fs::remove(root.Tools().folder() + "/installer"); }, 38,
        {"RetVal of NSTask: for install/uninstall: 127", "Operation failed", kExit38}, 1),
    Row(
        "PkgutilMissing", Drive::kHost, {},
        [](SkiffRoot& root) { fs::remove(root.Tools().folder() + "/pkgutil"); }, 38,
        {"Error in pkg validation", "TerminationStatus of pkg validation NSTask: 127",
         "Output of install command: PKG validation failed", "Operation failed", kExit38},
        0),
    Row(
        "InstallerKilled", Drive::kHost, {},
        [](SkiffRoot& root) { root.Tools().SetSignal("installer", 9); }, 38,
        {"RetVal of NSTask: for install/uninstall: 137", "Operation failed", kExit38}, 2),
    Survives(
        "InstallerPrintsFiftyMegabytes", {},
        [](SkiffRoot& root) {
          root.Tools().SetOutput("installer", std::string(1 << 20, 'x'));
          root.Tools().SetRepeat("installer", 50);
        },
        [](SkiffRoot& root) {
          const std::string output = "Output of install command: " + std::string(50 << 20, 'x');
          EXPECT_THAT(root.LastRunLogLines(), testing::Contains(output).Times(1));
        }),
    Row(
        "InstallerPrintsInvalidUtf8", Drive::kHost, {},
        [](SkiffRoot& root) {
          root.Tools().SetOutput("installer", "caf\xe9 done\xff");
          root.Tools().SetStatus("installer", 1);
        },
        38,
        {"RetVal of NSTask: for install/uninstall: 1",
         "Output of install command: caf\xef\xbf\xbd done\xef\xbf\xbd", "Operation failed"},
        2),

    // The output document cannot be written where it should be, or the probe
    // file's name is taken.
    Row(
        "FullFileSystemUnderTheOutput", Drive::kStatus,
        {"/tmp/full/output.xml",
         "cp /tmp/old.xml /tmp/full/output.xml && { cat /dev/zero >/tmp/full/fill; } 2>/dev/null;",
         "cp /tmp/full/output.xml /tmp/after.xml; ls -A /tmp/full >/tmp/after.list;"},
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
    Row("OutputFolderMissing", Drive::kStatus, {"/tmp/no/out.xml", "", ""}, nullptr, 38,
        {"Output xml path: /tmp/no/out.xml", "Error occurred while writing to XML", kExit38}, -1,
        [](SkiffRoot& root) { EXPECT_FALSE(root.Exists("/tmp/no")); }),
    Reports("SymlinkAtTheOutput", [](SkiffRoot& root) { VictimLink(root, kOutput); }),
    Reports(
        "SymlinkAtTheProbeFile",
        [](SkiffRoot& root) { VictimLink(root, "/tmp/TempFileForLangPack.pdf"); },
        [](SkiffRoot& root) { EXPECT_TRUE(root.Exists("/tmp/skiff-0/")); }),
    Reports("NulByteInABinaryPlistKey",
            [](SkiffRoot& root) {
              root.WriteFile("/Applications/Other.app/Contents/Info.plist", kNulKeyPlist);
            }),
};

INSTANTIATE_TEST_SUITE_P(Runs, FaultTableTest, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<FaultRow>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
