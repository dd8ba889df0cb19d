#include "tests/support/skiff_root.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

namespace {

constexpr char kToolFolder[] = "/usr/sbin";  // the package utility and the system installer
constexpr char kProxyPath[] = "/tmp/proxy.xml";
constexpr char kMakeTestPackagePath[] = "/opt/skiff/bin/make_test_package";

}  // namespace

std::string FirstMissingInOrder(const Lines& lines, const Lines& expected) {
  auto next = lines.begin();
  for (const std::string& line : expected) {
    next = std::find(next, lines.end(), line);
    if (next == lines.end()) return line;
    ++next;
  }
  return "";
}

SkiffRoot::SkiffRoot() : environment_(throwaway_root::DefaultEnvironment()) {
  environment_["HOME"] = "/Users/tester";
  // A sanitizer build of skiff should honour the options the test run was
  // given.
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) environment_[name] = value;
  }
  for (const char* folder :
       {"/Applications", "/Library/Application Support", "/Library/InstallerSandboxes",
        "/System/Library/CoreServices", "/Users/tester/Applications", "/tmp"}) {
    MakeDirectories(folder);
  }
  fs::permissions(HostPath("/tmp"), fs::perms::all | fs::perms::sticky_bit);
  binds_.push_back({SKIFF_E2E_SKIFF_BINARY, kSkiffPath, true});
  binds_.push_back({SKIFF_E2E_SKIFF_HOST_BINARY, kHostPath, true});
  binds_.push_back({SKIFF_E2E_MAKE_TEST_PACKAGE, kMakeTestPackagePath, true});
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
      HostPath(installation.bundlePath + "/Contents/MacOS/" + installation.executableName);
  WriteFileOrDie(executable, ReadFileOrDie(SKIFF_E2E_FAKE_PRODUCT));
  fs::permissions(executable, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add);
  return installation.bundlePath;
}

void SkiffRoot::WriteRequest(const std::string& bundleInfo,
                             const std::optional<std::string>& workflow) {
  WriteFile(kInputPath, RequestDocument(bundleInfo, workflow));
}

void SkiffRoot::WriteInstallInput(const std::string& packagePath) {
  const fs::path package(packagePath);
  WriteFile(kProxyPath, InstallProxyDocument(package.filename()));
  WriteFile(kInputPath, DeploymentDocument({{"installSourcePath", package.parent_path()},
                                            {"proxyFile", kProxyPath}}));
}

std::string SkiffRoot::WriteFile(const std::string& insidePath, const std::string& contents) {
  WriteFileOrDie(HostPath(insidePath), contents);
  return insidePath;
}

void SkiffRoot::MakeDirectories(const std::string& insidePath) {
  MakeDirectoriesOrDie(HostPath(insidePath));
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
  FakeTools::WriteTo(HostPath(insidePath));
}

void SkiffRoot::UsePackageUtility(const std::string& packagePath) {
  WriteFileOrDie(Tools().folder() + "/pkgutil", ReadFileOrDie(SKIFF_E2E_PKGUTIL));
  const std::string anchors = "/Library/Skiff/TrustAnchors";
  MakeDirectories(anchors);
  MakeDirectories(fs::path(packagePath).parent_path());
  const SkiffResult result = RunCommand({kMakeTestPackagePath, packagePath, anchors});
  if (result.exitCode != 0) throw std::runtime_error(result.Describe() + result.stderrText);
}

throwaway_root::RootCommand SkiffRoot::Command(std::string executable, Lines argv) const {
  return {root(), std::move(executable), std::move(argv), binds_, tmpfsMounts_, "/", environment_};
}

Lines SkiffRoot::ModeArguments(const std::string& mode, const std::string& outputXml,
                               const std::string& pipeName) {
  return {"--mode=" + mode, std::string("--inputXml=") + kInputPath, "--outputXml=" + outputXml,
          "--pipeName=" + pipeName};
}

SkiffResult SkiffRoot::RunSkiff(const Lines& arguments, std::chrono::milliseconds timeout) {
  Lines argv = {kSkiffPath};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return throwaway_root::Run(Command(kSkiffPath, argv), timeout);
}

SkiffResult SkiffRoot::RunHost(const std::string& mode, const Lines& hostOptions,
                               std::chrono::milliseconds timeout) {
  Lines argv = {kHostPath, std::string("--skiff=") + kSkiffPath};
  argv.insert(argv.end(), hostOptions.begin(), hostOptions.end());
  for (const std::string& argument : ModeArguments(mode)) argv.push_back(argument);
  return throwaway_root::Run(Command(kHostPath, argv), timeout);
}

SkiffResult SkiffRoot::RunCommand(const Lines& argv, std::chrono::milliseconds timeout) {
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

Lines SkiffRoot::LastRunLogLines() const {
  Lines lines;
  std::istringstream log(OutputDocument("/Library/Logs/Orvane/Installers/FLNXInstaller.log"));
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  // Only the start of a line is matched: a message may be megabytes long.
  static const std::regex kPrefix(R"(\[\d{4}-\d{2}-\d{2}_\d{2}-\d{2}-\d{2}\] )");
  constexpr size_t kPrefixSize = 22;
  for (std::string& line : lines) {
    if (std::regex_match(line.substr(0, kPrefixSize), kPrefix)) line.erase(0, kPrefixSize);
  }
  const auto separator = std::find(lines.rbegin(), lines.rend(),
                                   "/****************************************************/");
  lines.erase(lines.begin(), separator.base());
  return lines;
}
