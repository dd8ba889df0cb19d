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
// does not exist until skiff creates it. skiff and skiff-host are
// bind-mounted read-only at kSkiffPath and kHostPath.
//
//   SkiffRoot root;
//   root.AddInstallation();                       // Evergreen 23.008.20470
//   root.WriteRequest("com.orvane.Folian.Pro_23.0,", "upsell");
//   SkiffResult result = root.RunSkiff(SkiffRoot::ModeArguments("getAppStatus"));
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
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/scoped_temp_dir.h"
#include "tools/throwaway_root/throwaway_root.h"

// Whether CFBundleDocumentTypes registers the bundle as a PDF editor.
enum class PdfRole { kEditor, kNone };

struct ProductInstallation {
  // Inside the root; Contents/Info.plist and Contents/MacOS/ go below it.
  std::string bundlePath = "/Applications/Orvane Folian.app";
  std::string identifier = "com.orvane.Folian.Pro";     // CFBundleIdentifier
  std::optional<std::string> track = "Evergreen";       // TrackName
  std::optional<std::string> version = "23.008.20470";  // CFBundleVersion
  std::string executableName = "Folian";                // CFBundleExecutable
  PdfRole pdfRole = PdfRole::kEditor;
};

// An XML property list whose top dictionary holds `entries`.
std::string PlistDocument(const std::string& entries);
std::string InfoPlist(const ProductInstallation& installation);

// exitCode (-1 when a signal ended it), termSignal, timedOut, stdoutText,
// stderrText; Describe() for messages.
using SkiffResult = throwaway_root::CommandOutcome;
using Lines = std::vector<std::string>;

// The first line of `expected` that `lines` do not hold after the lines found
// for its predecessors ("" when all are there, in this order; other lines may
// come between).
std::string FirstMissingInOrder(const Lines& lines, const Lines& expected);

class SkiffRoot {
 public:
  static constexpr char kSkiffPath[] = "/opt/skiff/bin/skiff";
  static constexpr char kHostPath[] = "/opt/skiff/bin/skiff-host";
  static constexpr char kInputPath[] = "/tmp/input.xml";
  static constexpr char kOutputPath[] = "/tmp/output.xml";
  static constexpr char kPipeName[] = "skiff-e2e";
  static constexpr std::chrono::milliseconds kDefaultTimeout{30000};

  SkiffRoot();

  // The host path of the root, and of an absolute path inside it.
  const std::string& root() const { return temp_.path(); }
  std::string HostPath(const std::string& insidePath) const { return root() + insidePath; }

  // --- Building the machine ---------------------------------------------

  // Writes the bundle: Info.plist, and a copy of fake_product (which records
  // how it was started in /tmp/launched.txt; an x86-64 ELF file, so also
  // reported as x86-64) as the executable.
  void AddInstallation(const ProductInstallation& installation = ProductInstallation());
  // The status and launch input at kInputPath.
  void WriteRequest(const std::string& bundleInfo,
                    const std::optional<std::string>& workflow = std::nullopt);
  // The install input at kInputPath and the proxy document /tmp/proxy.xml,
  // which name the package at `packagePath`.
  void WriteInstallInput(const std::string& packagePath);
  // The uninstall input for com.orvane.Folian.Pro at kInputPath and the proxy
  // document /tmp/proxy.xml naming the installation folder (normally
  // "[OrvaneProgramFiles]/…") and the remover tool (normally "[INSTALLDIR]/…").
  void WriteUninstallInput(const std::string& installFolder, const std::string& removerPath);
  // Any file, parents created. Returns `insidePath`.
  std::string WriteFile(const std::string& insidePath, const std::string& contents);

  // The stand-ins for the system tools skiff runs: "pkgutil" and "installer"
  // in /usr/sbin, made on first use, and others added at their paths (the
  // remover tool). A stand-in is a shell script that behaves by its own name
  // N: it appends its arguments to N.calls, writes N.output, sleeps N.sleep
  // milliseconds and exits with N.status (`setting` is "output", "sleep" or
  // "status"); a missing setting means none or 0.
  void AddTool(const std::string& insidePath);
  void SetTool(const std::string& name, const std::string& setting, const std::string& text);
  // One entry per call, in order, holding the arguments after argv[0]; empty
  // when the tool was never called.
  std::vector<Lines> ToolCalls(const std::string& name) const;
  // Replaces the stand-in package utility by our real signature check, and
  // writes at `packagePath` a package signed by a fresh test chain that the
  // check trusts (tools/make_test_package).
  void UsePackageUtility(const std::string& packagePath);

  // --- Running ----------------------------------------------------------

  // --mode=… --inputXml=kInputPath --outputXml=… --pipeName=….
  static Lines ModeArguments(const std::string& mode, const std::string& outputXml = kOutputPath,
                             const std::string& pipeName = kPipeName);
  // skiff with exactly `arguments` after the program path.
  SkiffResult RunSkiff(const Lines& arguments, std::chrono::milliseconds timeout = kDefaultTimeout);
  // skiff-host [hostOptions] with ModeArguments(mode): it starts skiff and
  // plays the installer host.
  SkiffResult RunHost(const std::string& mode, const Lines& hostOptions = {},
                      std::chrono::milliseconds timeout = kDefaultTimeout);
  // Any program of the root (a path inside it, or a name on its PATH).
  SkiffResult RunCommand(const Lines& argv, std::chrono::milliseconds timeout = kDefaultTimeout);

  // Mounts for every later run, after skiff's own.
  void AddBind(const throwaway_root::BindMount& mount) { command_.binds.push_back(mount); }
  // An empty tmpfs of `sizeBytes` at `insidePath` for every later run, each
  // run getting a fresh one; the host never sees its files.
  void AddTmpfs(const std::string& insidePath, uint64_t sizeBytes) {
    command_.tmpfsMounts.push_back({insidePath, sizeBytes});
  }
  // The programs' environment: PATH, HOME=/Users/tester, and the host's
  // sanitizer options. Changes apply to later runs.
  std::map<std::string, std::string>& environment() { return command_.environment; }

  // --- Looking at the result --------------------------------------------

  bool Exists(const std::string& insidePath) const;
  // Throws std::runtime_error when the file cannot be read.
  std::string ReadFile(const std::string& insidePath) const;
  // The document at --outputXml, or another file ("" when there is none).
  std::string OutputDocument(const std::string& insidePath = kOutputPath) const;
  // The log lines of the latest run (those after the last run separator),
  // each without its "[YYYY-MM-DD_HH-MM-SS] " prefix.
  Lines LastRunLogLines() const;

 private:
  ScopedTempDir temp_;
  // Every run's root, mounts and environment.
  throwaway_root::RootCommand command_;

  // The path of the stand-ins' file `name`, setting them up on first use.
  std::string ToolFile(const std::string& name);
};

#endif  // SKIFF_TESTS_SUPPORT_SKIFF_ROOT_H_
