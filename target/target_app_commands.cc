// Running command lines through the shell and checking a package's signature
// report.
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "log/log_sink.h"
#include "platform/launcher.h"
#include "platform/utf8_text.h"
#include "target/target_app.h"

namespace {

constexpr char kRootCertificate[] = "Apple Root CA";
constexpr char kIntermediateCertificate[] = "Developer ID Certification Authority";
constexpr const char* kSigningCertificates[] = {
    "Developer ID Installer: Orvane Systems, Inc.",
    "Developer ID Installer: Orvane Inc. (K4T7W2Q9PX)",
};

// The length of the line break starting at `at` in valid UTF-8 text, or 0:
// U+000A..U+000D, U+0085, U+2028 and U+2029, each a break of its own.
size_t LineBreakLength(std::string_view text, size_t at) {
  const unsigned char byte = static_cast<unsigned char>(text[at]);
  if (byte >= 0x0A && byte <= 0x0D) return 1;
  if (text.compare(at, 2, "\xC2\x85") == 0) return 2;
  if (text.compare(at, 3, "\xE2\x80\xA8") == 0 || text.compare(at, 3, "\xE2\x80\xA9") == 0)
    return 3;
  return 0;
}

// Heading of the section that lists the certificates, one numbered line each.
constexpr char kChainHeading[] = "Certificate Chain:";

bool IsChainHeading(std::string_view line) {
  const size_t start = line.find_first_not_of(' ');
  return start != std::string_view::npos && line.substr(start) == kChainHeading;
}

// The name on a certificate line, "    1. NAME": blanks, a decimal number,
// ". ", the name. Empty for any other line.
std::string_view CertificateName(std::string_view line) {
  size_t at = 0;
  while (at < line.size() && line[at] == ' ') ++at;
  const size_t number = at;
  while (at < line.size() && line[at] >= '0' && line[at] <= '9') ++at;
  if (number == 0 || at == number || line.compare(at, 2, ". ") != 0) return {};
  return line.substr(at + 2);
}

// " (TEAMID)", the team identifier being upper-case letters and digits.
bool IsTeamSuffix(std::string_view text) {
  if (text.size() < 4 || text.compare(0, 2, " (") != 0 || text.back() != ')') return false;
  for (const char c : text.substr(2, text.size() - 3)) {
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

bool IsSigningName(std::string_view name) {
  for (const std::string_view accepted : kSigningCertificates) {
    if (name.compare(0, accepted.size(), accepted) != 0) continue;
    const std::string_view rest = name.substr(accepted.size());
    if (rest.empty() || IsTeamSuffix(rest)) return true;
  }
  return false;
}

// The three certificate conditions, met one per certificate at most.
class CertificateChain {
 public:
  // A certificate meets the first unmet condition whose name it carries
  // exactly; a name that merely contains one meets none.
  void Take(std::string_view name) {
    if (!root_ && name == kRootCertificate) {
      root_ = true;
    } else if (!intermediate_ && name == kIntermediateCertificate) {
      intermediate_ = true;
    } else if (!signing_ && IsSigningName(name)) {
      signing_ = true;
    }
  }

  bool Complete() const { return root_ && intermediate_ && signing_; }

 private:
  bool root_ = false;
  bool intermediate_ = false;
  bool signing_ = false;
};

// The report cut at every line break; text after the last break is a last,
// possibly empty, line.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t lineStart = 0;
  size_t at = 0;
  for (;;) {
    size_t breakLength = 0;
    while (at < text.size() && (breakLength = LineBreakLength(text, at)) == 0) ++at;
    lines.push_back(text.substr(lineStart, at - lineStart));
    if (at == text.size()) return lines;
    at += breakLength;
    lineStart = at;
  }
}

}  // namespace

bool TargetApp::RunShellCommand(std::string commandLine, std::string& output) {
  ShellResult result;
  try {
    result = environment_.shell->Run(commandLine);
  } catch (const PlatformException& error) {
    output = error.what();
    log_.Log(std::string("Unable to run command for install/uninstall: ") + error.what());
    return false;
  }
  // The output may be large: it is moved and repaired in place, never copied.
  output = std::move(result.output);
  ReplaceInvalidUtf8(output, result.validUtf8Bytes);
  log_.Log("RetVal of NSTask: for install/uninstall: " + std::to_string(result.status));
  return result.status == 0;
}

bool TargetApp::ValidatePackageSignature(std::string packagePath) {
  log_.Log("PKG path for verification: " + packagePath);
  ShellResult result;
  try {
    result = environment_.shell->Run(kSignatureCheckCommand + packagePath);
  } catch (const PlatformException& error) {
    log_.Log(std::string("Unable to run pkg validation: ") + error.what());
    return false;
  }
  if (result.status != 0) {
    log_.Log("Error in pkg validation");
    log_.Log("TerminationStatus of pkg validation NSTask: " + std::to_string(result.status));
    return false;
  }
  if (result.output.empty()) return false;
  ReplaceInvalidUtf8(result.output, result.validUtf8Bytes);
  const std::string& text = result.output;
  if (text.empty()) return false;

  // Only the numbered lines under the chain heading name certificates: the
  // report starts with the package's file name, which anybody can choose.
  // The last heading counts, as the file name comes before the real one.
  const std::vector<std::string_view> lines = SplitLines(text);
  auto line = lines.end();
  while (line != lines.begin() && !IsChainHeading(*(line - 1))) --line;
  if (line == lines.begin()) return false;
  CertificateChain chain;
  for (; line != lines.end(); ++line) {
    const std::string_view name = CertificateName(*line);
    if (name.empty()) continue;
    chain.Take(name);
    if (chain.Complete()) {
      log_.Log("All certs present, pkg validation succeeded");
      return true;
    }
  }
  return false;
}
