#include "tests/support/skiff_root.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>

#ifndef SKIFF_E2E_SKIFF_BINARY
#error "SKIFF_E2E_SKIFF_BINARY must name the skiff executable"
#endif
#ifndef SKIFF_E2E_SKIFF_HOST_BINARY
#error "SKIFF_E2E_SKIFF_HOST_BINARY must name the skiff-host executable"
#endif
#ifndef SKIFF_E2E_PKGUTIL
#error "SKIFF_E2E_PKGUTIL must name the pkgutil executable"
#endif
#ifndef SKIFF_E2E_FAKE_PRODUCT
#error "SKIFF_E2E_FAKE_PRODUCT must name the fake_product executable"
#endif

namespace fs = std::filesystem;

namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void CopyExecutable(const std::string& from, const std::string& to) {
  fs::create_directories(fs::path(to).parent_path());
  // Never write through an existing file: it may be a hard link to a build
  // output.
  fs::remove(to);
  fs::copy_file(from, to);
  fs::permissions(to, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec);
}

}  // namespace

std::string FirstMissingInOrder(const std::vector<std::string>& lines,
                                const std::vector<std::string>& expected) {
  auto next = lines.begin();
  for (const std::string& line : expected) {
    next = std::find(next, lines.end(), line);
    if (next == lines.end()) return line;
    ++next;
  }
  return "";
}

SkiffRoot::SkiffRoot() : environment_(throwaway_root::DefaultEnvironment()) {
  environment_["HOME"] = kHome;
  // A sanitizer build of skiff should honour the options the test run was
  // given.
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) environment_[name] = value;
  }
  for (const char* folder :
       {"/Applications", "/Library/Application Support", "/Library/InstallerSandboxes",
        "/System/Library/CoreServices", "/Users/tester/Applications"}) {
    MakeDirectories(folder);
  }
  MakeDirectories("/tmp");
  fs::permissions(HostPath("/tmp"), fs::perms::all | fs::perms::sticky_bit);
  binds_.push_back({SKIFF_E2E_SKIFF_BINARY, kSkiffPath, true});
  binds_.push_back({SKIFF_E2E_SKIFF_HOST_BINARY, kHostPath, true});
}

FakeTools& SkiffRoot::Tools() {
  if (!tools_) {
    tools_ = std::make_unique<FakeTools>(HostPath("/opt/fake-tools"));
    tools_->Install("pkgutil");
    tools_->Install("installer");
    binds_.push_back({tools_->folder(), kToolFolder, false});
    environment_["SKIFF_FAKE_TOOL_DIR"] = kToolFolder;
  }
  return *tools_;
}

void SkiffRoot::InstallFakeTool(const std::string& insidePath) {
  Tools();
  CopyExecutable(FakeTools::BinaryPath(), HostPath(insidePath));
}

void SkiffRoot::UsePackageUtility() {
  CopyExecutable(SKIFF_E2E_PKGUTIL, Tools().folder() + "/pkgutil");
  MakeDirectories(kTrustAnchorFolder);
}

std::string SkiffRoot::HostPath(const std::string& insidePath) const {
  if (insidePath.empty() || insidePath[0] != '/') {
    throw std::invalid_argument("not an absolute path inside the root: " + insidePath);
  }
  return root() + insidePath;
}

std::string SkiffRoot::AddInstallation(const ProductInstallation& installation) {
  WriteFile(installation.bundlePath + "/Contents/Info.plist", InfoPlist(installation));
  const std::string executable =
      installation.bundlePath + "/Contents/MacOS/" + installation.executableName.value_or("Folian");
  switch (installation.executable) {
    case ProductExecutable::kMissing:
      MakeDirectories(installation.bundlePath + "/Contents/MacOS");
      break;
    case ProductExecutable::kRunnable:
      CopyExecutable(SKIFF_E2E_FAKE_PRODUCT, HostPath(executable));
      break;
    default:
      WriteFile(executable, MachOExecutable(installation.executable));
      fs::permissions(HostPath(executable),
                      fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                      fs::perm_options::add);
  }
  return installation.bundlePath;
}

void SkiffRoot::WriteInstallerPreferences(const std::string& track,
                                          std::optional<bool> singleClient,
                                          std::optional<bool> foliInstalled) {
  WriteFile(std::string(kApplicationSupport) + "/Orvane/Folian/" + track +
                "/SupportFiles/Preferences/com.orvane.folian.scainstaller.plist",
            InstallerPreferencesPlist(singleClient, foliInstalled));
}

void SkiffRoot::WriteSystemVersion(const std::string& productVersion) {
  WriteFile("/System/Library/CoreServices/SystemVersion.plist", SystemVersionPlist(productVersion));
}

std::string SkiffRoot::WriteRequest(const std::string& bundleInfo,
                                    const std::optional<std::string>& workflow,
                                    const std::string& insidePath, const std::string& rootElement) {
  return WriteFile(insidePath, RequestDocument(bundleInfo, workflow, rootElement));
}

std::string SkiffRoot::WriteFile(const std::string& insidePath, const std::string& contents) {
  WriteFileOrDie(HostPath(insidePath), contents);
  return insidePath;
}

void SkiffRoot::MakeDirectories(const std::string& insidePath) {
  MakeDirectoriesOrDie(HostPath(insidePath));
}

throwaway_root::RootCommand SkiffRoot::Command(std::string executable,
                                               std::vector<std::string> argv) const {
  throwaway_root::RootCommand command;
  command.root = root();
  command.executable = std::move(executable);
  command.argv = std::move(argv);
  command.binds = binds_;
  command.tmpfsMounts = tmpfsMounts_;
  command.environment = environment_;
  return command;
}

SkiffResult SkiffRoot::RunSkiff(const std::vector<std::string>& arguments,
                                std::chrono::milliseconds timeout) {
  std::vector<std::string> argv = {kSkiffPath};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return RunSkiffWithArgv(argv, timeout);
}

SkiffResult SkiffRoot::RunSkiffWithArgv(const std::vector<std::string>& argv,
                                        std::chrono::milliseconds timeout) {
  return throwaway_root::Run(Command(kSkiffPath, argv), timeout);
}

SkiffResult SkiffRoot::RunMode(const std::string& mode, const std::string& inputXml,
                               const std::string& outputXml, const std::string& pipeName,
                               std::chrono::milliseconds timeout) {
  return RunSkiff({"--mode=" + mode, "--inputXml=" + inputXml, "--outputXml=" + outputXml,
                   "--pipeName=" + pipeName},
                  timeout);
}

SkiffResult SkiffRoot::RunHost(const std::string& mode, const std::vector<std::string>& hostOptions,
                               const std::string& inputXml, std::chrono::milliseconds timeout) {
  std::vector<std::string> argv = {kHostPath, std::string("--skiff=") + kSkiffPath};
  argv.insert(argv.end(), hostOptions.begin(), hostOptions.end());
  for (const std::string& option :
       {"--mode=" + mode, "--inputXml=" + inputXml, std::string("--outputXml=") + kOutputPath,
        std::string("--pipeName=") + kPipeName}) {
    argv.push_back(option);
  }
  return throwaway_root::Run(Command(kHostPath, argv), timeout);
}

throwaway_root::RunningCommand SkiffRoot::StartSkiff(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv = {kSkiffPath};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return throwaway_root::Start(Command(kSkiffPath, argv));
}

SkiffResult SkiffRoot::RunCommand(const std::vector<std::string>& argv,
                                  std::chrono::milliseconds timeout) {
  return throwaway_root::Run(Command("", argv), timeout);
}

bool SkiffRoot::Exists(const std::string& insidePath) const {
  return PathExists(HostPath(insidePath));
}

std::string SkiffRoot::ReadFile(const std::string& insidePath) const {
  return ReadFileOrDie(HostPath(insidePath));
}

std::string SkiffRoot::OutputDocument(const std::string& insidePath) const {
  return Exists(insidePath) ? ReadFile(insidePath) : "";
}

std::string SkiffRoot::LogText() const { return Exists(kLogPath) ? ReadFile(kLogPath) : ""; }

std::vector<std::string> SkiffRoot::LogLines() const {
  // Only the start of a line is matched: a message may be megabytes long.
  static const std::regex kPrefix(R"(\[\d{4}-\d{2}-\d{2}_\d{2}-\d{2}-\d{2}\] )");
  constexpr size_t kPrefixSize = 22;
  std::vector<std::string> lines = SplitLines(LogText());
  for (std::string& line : lines) {
    if (std::regex_match(line.substr(0, kPrefixSize), kPrefix)) line.erase(0, kPrefixSize);
  }
  return lines;
}

std::vector<std::string> SkiffRoot::LastRunLogLines() const {
  std::vector<std::string> lines = LogLines();
  for (size_t i = lines.size(); i > 0; --i) {
    if (lines[i - 1] == kRunSeparator) {
      return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(i), lines.end());
    }
  }
  return lines;
}

std::vector<ProductLaunch> SkiffRoot::Launches() const {
  std::vector<ProductLaunch> launches;
  if (!Exists(kLaunchRecordPath)) return launches;
  std::vector<std::string> current;
  for (const std::string& line : SplitLines(ReadFile(kLaunchRecordPath))) {
    if (line != "--end--") {
      current.push_back(line);
      continue;
    }
    ProductLaunch launch;
    if (!current.empty()) {
      launch.program = current.front();
      launch.arguments.assign(current.begin() + 1, current.end());
    }
    launches.push_back(launch);
    current.clear();
  }
  return launches;  // a record still being written is left out
}

std::vector<ProductLaunch> SkiffRoot::WaitForLaunches(size_t count,
                                                      std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::vector<ProductLaunch> launches = Launches();
  while (launches.size() < count && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    launches = Launches();
  }
  return launches;
}
