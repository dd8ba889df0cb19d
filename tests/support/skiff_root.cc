#include "tests/support/skiff_root.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

namespace {

constexpr char kToolFolder[] = "/usr/sbin";          // the package utility and the system installer
constexpr char kToolSettings[] = "/opt/fake-tools";  // the stand-ins' own files
// Each argument of a call is followed by the byte 0x1f, each call by a line
// end.
constexpr char kScript[] = R"sh(#!/bin/sh
d="${SKIFF_FAKE_TOOL_DIR:?}/${0##*/}"
for a in "$@"; do printf '%s\037' "$a"; done >>"$d.calls"
echo >>"$d.calls"
cat "$d.output" 2>/dev/null
ms=$(cat "$d.sleep" 2>/dev/null || echo 0)
[ "$ms" -gt 0 ] && sleep "$((ms / 1000)).$(printf %03d $((ms % 1000)))"
exit "$(cat "$d.status" 2>/dev/null || echo 0)"
)sh";

constexpr char kProxyPath[] = "/tmp/proxy.xml";
constexpr char kMakeTestPackagePath[] = "/opt/skiff/bin/make_test_package";

// Text for an element's content or a double-quoted attribute value.
std::string Escape(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    escaped += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '"' ? "&quot;" : std::string(1, c);
  }
  return escaped;
}

std::string Element(const std::string& name, const std::string& text) {
  return "<" + name + ">" + Escape(text) + "</" + name + ">";
}

const char kXmlDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

// <Deployment><Properties><Property name="…">…</Property>…</Properties></Deployment>
std::string DeploymentDocument(const std::vector<std::pair<std::string, std::string>>& properties) {
  std::string document = kXmlDeclaration + std::string("<Deployment><Properties>\n");
  for (const auto& [name, value] : properties) {
    document += "<Property name=\"" + Escape(name) + "\">" + Escape(value) + "</Property>\n";
  }
  return document + "</Properties></Deployment>\n";
}

}  // namespace

std::string PlistDocument(const std::string& entries) {
  return std::string(kXmlDeclaration) +
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\"><dict>" +
         entries + "</dict></plist>\n";
}

std::string InfoPlist(const ProductInstallation& installation) {
  std::string entries;
  for (const auto& [key, value] : std::vector<std::pair<const char*, std::optional<std::string>>>{
           {"CFBundleIdentifier", installation.identifier},
           {"CFBundlePackageType", "APPL"},
           {"CFBundleExecutable", installation.executableName},
           {"CFBundleVersion", installation.version},
           {"TrackName", installation.track}}) {
    if (value) entries += Element("key", key) + Element("string", *value);
  }
  if (installation.pdfRole == PdfRole::kEditor) {
    entries +=
        "<key>CFBundleDocumentTypes</key><array><dict><key>CFBundleTypeExtensions</key><array>"
        "<string>pdf</string></array><key>CFBundleTypeRole</key><string>Editor</string></dict>"
        "</array>";
  }
  return PlistDocument(entries);
}

std::string FirstMissingInOrder(const Lines& lines, const Lines& expected) {
  auto next = lines.begin();
  for (const std::string& line : expected) {
    next = std::find(next, lines.end(), line);
    if (next == lines.end()) return line;
    ++next;
  }
  return "";
}

SkiffRoot::SkiffRoot() {
  command_.root = root();
  // A sanitizer build of skiff should honour the options the test run was
  // given.
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) command_.environment[name] = value;
  }
  for (const char* folder :
       {"/Applications", "/Library/Application Support", "/Library/InstallerSandboxes",
        "/System/Library/CoreServices", "/Users/tester/Applications", "/tmp"}) {
    MakeDirectoriesOrDie(HostPath(folder));
  }
  fs::permissions(HostPath("/tmp"), fs::perms::all | fs::perms::sticky_bit);
  command_.binds = {{SKIFF_E2E_SKIFF_BINARY, kSkiffPath, true},
                    {SKIFF_E2E_SKIFF_HOST_BINARY, kHostPath, true},
                    {SKIFF_E2E_MAKE_TEST_PACKAGE, kMakeTestPackagePath, true}};
}

void SkiffRoot::AddInstallation(const ProductInstallation& installation) {
  WriteFile(installation.bundlePath + "/Contents/Info.plist", InfoPlist(installation));
  const std::string executable =
      HostPath(installation.bundlePath + "/Contents/MacOS/" + installation.executableName);
  WriteFileOrDie(executable, ReadFileOrDie(SKIFF_E2E_FAKE_PRODUCT));
  fs::permissions(executable, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add);
}

void SkiffRoot::WriteRequest(const std::string& bundleInfo,
                             const std::optional<std::string>& workflow) {
  WriteFile(kInputPath, kXmlDeclaration + std::string("<request>") +
                            Element("bundleInfo", bundleInfo) +
                            (workflow ? Element("workflow", *workflow) : "") + "</request>\n");
}

void SkiffRoot::WriteInstallInput(const std::string& packagePath) {
  const fs::path package(packagePath);
  WriteFile(kProxyPath, kXmlDeclaration + std::string("<Proxy><ThirdPartyComponent><Metadata>") +
                            Element("Name", package.filename()) +
                            "</Metadata></ThirdPartyComponent></Proxy>\n");
  WriteFile(kInputPath, DeploymentDocument({{"installSourcePath", package.parent_path()},
                                            {"proxyFile", kProxyPath}}));
}

void SkiffRoot::WriteUninstallInput(const std::string& installFolder,
                                    const std::string& removerPath) {
  WriteFile(kProxyPath, kXmlDeclaration + std::string("<Proxy><InstallDir>") +
                            Element("Platform", installFolder) +
                            "</InstallDir><ThirdPartyComponent><Metadata><Properties><Property "
                            "name=\"path\">" +
                            Escape(removerPath) +
                            "</Property></Properties></Metadata></ThirdPartyComponent></Proxy>\n");
  WriteFile(kInputPath, DeploymentDocument(
                            {{"proxyFile", kProxyPath}, {"bundleInfo", "com.orvane.Folian.Pro"}}));
}

std::string SkiffRoot::WriteFile(const std::string& insidePath, const std::string& contents) {
  WriteFileOrDie(HostPath(insidePath), contents);
  return insidePath;
}

std::string SkiffRoot::ToolFile(const std::string& name) {
  if (command_.environment.emplace("SKIFF_FAKE_TOOL_DIR", kToolFolder).second) {
    command_.binds.push_back({HostPath(kToolSettings), kToolFolder, false});
    AddTool(ToolFile("pkgutil"));
    AddTool(ToolFile("installer"));
  }
  return std::string(kToolSettings) + "/" + name;
}

void SkiffRoot::AddTool(const std::string& insidePath) {
  ToolFile("");  // the stand-ins' folder and their environment first
  WriteFile(insidePath, kScript);
  fs::permissions(HostPath(insidePath), fs::perms(0755));
}

void SkiffRoot::SetTool(const std::string& name, const std::string& setting,
                        const std::string& text) {
  WriteFile(ToolFile(name + "." + setting), text);
}

std::vector<Lines> SkiffRoot::ToolCalls(const std::string& name) const {
  std::vector<Lines> calls;
  std::istringstream records(OutputDocument(std::string(kToolSettings) + "/" + name + ".calls"));
  for (std::string record; std::getline(records, record);) {
    calls.emplace_back();
    std::istringstream arguments(record);
    for (std::string argument; std::getline(arguments, argument, '\x1f');) {
      calls.back().push_back(argument);
    }
  }
  return calls;
}

void SkiffRoot::UsePackageUtility(const std::string& packagePath) {
  WriteFile(ToolFile("pkgutil"), ReadFileOrDie(SKIFF_E2E_PKGUTIL));
  const std::string anchors = "/Library/Skiff/TrustAnchors";
  MakeDirectoriesOrDie(HostPath(anchors));
  MakeDirectoriesOrDie(HostPath(fs::path(packagePath).parent_path()));
  const SkiffResult result = RunCommand({kMakeTestPackagePath, packagePath, anchors});
  if (result.exitCode != 0) throw std::runtime_error(result.Describe() + result.stderrText);
}

Lines SkiffRoot::ModeArguments(const std::string& mode, const std::string& outputXml,
                               const std::string& pipeName) {
  return {"--mode=" + mode, std::string("--inputXml=") + kInputPath, "--outputXml=" + outputXml,
          "--pipeName=" + pipeName};
}

SkiffResult SkiffRoot::RunSkiff(const Lines& arguments, std::chrono::milliseconds timeout) {
  Lines argv = {kSkiffPath};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return RunCommand(argv, timeout);
}

SkiffResult SkiffRoot::RunHost(const std::string& mode, const Lines& hostOptions,
                               std::chrono::milliseconds timeout) {
  Lines argv = {kHostPath, std::string("--skiff=") + kSkiffPath};
  argv.insert(argv.end(), hostOptions.begin(), hostOptions.end());
  for (const std::string& argument : ModeArguments(mode)) argv.push_back(argument);
  return RunCommand(argv, timeout);
}

SkiffResult SkiffRoot::RunCommand(const Lines& argv, std::chrono::milliseconds timeout) {
  throwaway_root::RootCommand command = command_;
  command.argv = argv;
  return throwaway_root::Run(command, timeout);
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
  // Only the start of a line is matched: a message may be megabytes long.
  static const std::regex kPrefix(R"(\[\d{4}-\d{2}-\d{2}_\d{2}-\d{2}-\d{2}\] )");
  constexpr size_t kPrefixSize = 22;
  for (std::string line; std::getline(log, line);) {
    if (std::regex_match(line.substr(0, kPrefixSize), kPrefix)) line.erase(0, kPrefixSize);
    lines.push_back(line);
  }
  const auto separator = std::find(lines.rbegin(), lines.rend(),
                                   "/****************************************************/");
  lines.erase(lines.begin(), separator.base());
  return lines;
}
