// A fake macOS machine for end-to-end tests of the real skiff binary.
//
// SkiffRoot builds, in a fresh temporary folder, the tree Skiff expects at its
// fixed absolute paths and runs skiff inside it as a throwaway root
// (tools/throwaway_root): the folder is "/" for skiff, so "/Applications",
// "/Library/..." and "/tmp/" are the folder's own and the machine's are never
// touched. All paths taken and returned by the methods below are paths
// inside the root ("/tmp/input.xml"); HostPath() gives the host's view.
//
// The tree: /Applications, /Library/Application Support,
// /Library/InstallerSandboxes, /System/Library/CoreServices, /Users/tester
// (HOME) with its Applications folder, and /tmp (mode 1777). The log folder
// does not exist until skiff creates it. The skiff binary is bind-mounted
// read-only at /opt/skiff/bin/skiff.
//
//   SkiffRoot root;
//   root.AddInstallation();                       // Evergreen 23.008.20470
//   root.WriteRequest("com.orvane.Folian.Pro_23.0,", "upsell");
//   SkiffResult result = root.RunMode("getAppStatus");
//   EXPECT_EQ(result.exitCode, 0) << result.Describe() << result.stderrText;
//   EXPECT_THAT(root.LastRunLogLines(), Contains("Skiff has launched"));
//   std::string document = root.OutputDocument();
//
// Failures to enter the root (no user namespaces, say) throw
// throwaway_root::ThrowawayRootError, which fails the test with its message.
#ifndef SKIFF_TESTS_SUPPORT_SKIFF_ROOT_H_
#define SKIFF_TESTS_SUPPORT_SKIFF_ROOT_H_

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/fake_tools.h"
#include "tests/support/product_files.h"
#include "tests/support/scoped_temp_dir.h"
#include "tools/throwaway_root/throwaway_root.h"

// exitCode (-1 when a signal ended it), termSignal, timedOut, stdoutText,
// stderrText; Describe() for messages.
using SkiffResult = throwaway_root::CommandOutcome;

// One start of the product's runnable stand-in, as fake_product recorded it.
struct ProductLaunch {
  std::string program;                 // its argv[0]
  std::vector<std::string> arguments;  // argv[1..]
};

// The first line of `expected` that `lines` do not hold after the lines found
// for its predecessors ("" when all are there, in this order; other lines may
// come between).
std::string FirstMissingInOrder(const std::vector<std::string>& lines,
                                const std::vector<std::string>& expected);

class SkiffRoot {
 public:
  static constexpr char kSkiffPath[] = "/opt/skiff/bin/skiff";
  static constexpr char kHostPath[] = "/opt/skiff/bin/skiff-host";
  // Mounted over the host's /usr/sbin: the package utility and the system
  // installer (found through PATH) of the root.
  static constexpr char kToolFolder[] = "/usr/sbin";
  static constexpr char kInputPath[] = "/tmp/input.xml";
  static constexpr char kOutputPath[] = "/tmp/output.xml";
  static constexpr char kPipeName[] = "skiff-e2e";
  static constexpr char kLogPath[] = "/Library/Logs/Orvane/Installers/FLNXInstaller.log";
  static constexpr char kLaunchRecordPath[] = "/tmp/launched.txt";
  static constexpr char kApplicationSupport[] = "/Library/Application Support";
  static constexpr char kHome[] = "/Users/tester";
  static constexpr char kUsageText[] =
      "Usage string: <path-to-exe> --mode=<launch-mode> --inputXml=<path-to-input-xml> "
      "--outputXml=<path-to-output-xml>";
  static constexpr char kRunSeparator[] = "/****************************************************/";
  static constexpr std::chrono::milliseconds kDefaultTimeout{30000};

  SkiffRoot();

  // The host path of the root, and of a path inside it.
  const std::string& root() const { return temp_.path(); }
  std::string HostPath(const std::string& insidePath) const;

  // --- Building the machine ---------------------------------------------

  // Writes the bundle (Info.plist and executable) and returns its path.
  std::string AddInstallation(const ProductInstallation& installation = ProductInstallation());
  // The per-track installer preference file below /Library/Application
  // Support/Orvane/Folian/<track>/SupportFiles/Preferences.
  void WriteInstallerPreferences(const std::string& track, std::optional<bool> singleClient,
                                 std::optional<bool> foliInstalled);
  // /System/Library/CoreServices/SystemVersion.plist; without it skiff takes
  // the system for macOS 11 or later.
  void WriteSystemVersion(const std::string& productVersion);
  // The status and launch input: <rootElement><bundleInfo>…</bundleInfo>
  // [<workflow>…</workflow>]</rootElement>. Returns `insidePath`.
  std::string WriteRequest(const std::string& bundleInfo,
                           const std::optional<std::string>& workflow = std::nullopt,
                           const std::string& insidePath = kInputPath,
                           const std::string& rootElement = "request");
  // Any file, parents created. Returns `insidePath`.
  std::string WriteFile(const std::string& insidePath, const std::string& contents);
  void MakeDirectories(const std::string& insidePath);

  // The stand-ins (fake_tool) for "pkgutil" and "installer" in kToolFolder,
  // made on first use; every tool's settings and call records live there.
  FakeTools& Tools();
  // Another stand-in at `insidePath` (the remover tool), configured through
  // Tools() by its file name.
  void InstallFakeTool(const std::string& insidePath);
  // Replaces the stand-in package utility by our real signature check; its
  // trust anchors are the PEM files in kTrustAnchorFolder of the root.
  void UsePackageUtility();
  static constexpr char kTrustAnchorFolder[] = "/Library/Skiff/TrustAnchors";

  // --- Running ----------------------------------------------------------

  // skiff with exactly `arguments` after the program path.
  SkiffResult RunSkiff(const std::vector<std::string>& arguments,
                       std::chrono::milliseconds timeout = kDefaultTimeout);
  // skiff with the whole argument vector, argv[0] included (may be empty).
  SkiffResult RunSkiffWithArgv(const std::vector<std::string>& argv,
                               std::chrono::milliseconds timeout = kDefaultTimeout);
  // skiff --mode=… --inputXml=… --outputXml=… --pipeName=….
  SkiffResult RunMode(const std::string& mode, const std::string& inputXml = kInputPath,
                      const std::string& outputXml = kOutputPath,
                      const std::string& pipeName = kPipeName,
                      std::chrono::milliseconds timeout = kDefaultTimeout);
  // skiff-host [hostOptions] --mode=… --inputXml=… --outputXml=… --pipeName=…,
  // which starts skiff and plays the installer host.
  SkiffResult RunHost(const std::string& mode, const std::vector<std::string>& hostOptions = {},
                      const std::string& inputXml = kInputPath,
                      std::chrono::milliseconds timeout = kDefaultTimeout);
  // Starts skiff with `arguments` and returns at once, for tests that talk to
  // it while it runs (the FIFOs are HostPath("/tmp/<pipe>_IN") and _OUT).
  // Wait() on the handle; dropping it kills skiff.
  throwaway_root::RunningCommand StartSkiff(const std::vector<std::string>& arguments);
  // Any program of the root (a path inside it, or a name on its PATH).
  SkiffResult RunCommand(const std::vector<std::string>& argv,
                         std::chrono::milliseconds timeout = kDefaultTimeout);

  // Mounts for every later run, after skiff's own (a folder of fake tools
  // over /usr/sbin, say).
  void AddBind(const throwaway_root::BindMount& mount) { binds_.push_back(mount); }
  // An empty tmpfs of `sizeBytes` at `insidePath` for every later run, each
  // run getting a fresh one; the host never sees its files.
  void AddTmpfs(const std::string& insidePath, uint64_t sizeBytes) {
    tmpfsMounts_.push_back({insidePath, sizeBytes});
  }
  // The programs' environment: PATH, HOME=/Users/tester, and the host's
  // sanitizer options. Changes apply to later runs.
  std::map<std::string, std::string>& environment() { return environment_; }

  // --- Looking at the result --------------------------------------------

  bool Exists(const std::string& insidePath) const;
  // Throws std::runtime_error when the file cannot be read.
  std::string ReadFile(const std::string& insidePath) const;
  // The document at --outputXml ("" when there is none).
  std::string OutputDocument(const std::string& insidePath = kOutputPath) const;
  // The log file as it is; "" when there is none.
  std::string LogText() const;
  // Every line of the log with its "[YYYY-MM-DD_HH-MM-SS] " prefix removed;
  // lines without the prefix (the run separator, continuation lines of a
  // message holding line breaks) as they are.
  std::vector<std::string> LogLines() const;
  // The lines after the last run separator (all lines when there is none):
  // those of the latest run.
  std::vector<std::string> LastRunLogLines() const;
  // Starts of the runnable stand-in recorded so far, oldest first.
  std::vector<ProductLaunch> Launches() const;
  // Waits (the product outlives skiff) until at least `count` starts are
  // recorded or `timeout` passes; returns what is recorded then.
  std::vector<ProductLaunch> WaitForLaunches(
      size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

 private:
  throwaway_root::RootCommand Command(std::string executable, std::vector<std::string> argv) const;

  ScopedTempDir temp_;
  std::unique_ptr<FakeTools> tools_;
  std::vector<throwaway_root::BindMount> binds_;
  std::vector<throwaway_root::TmpfsMount> tmpfsMounts_;
  std::map<std::string, std::string> environment_;
};

#endif  // SKIFF_TESTS_SUPPORT_SKIFF_ROOT_H_
