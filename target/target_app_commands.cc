// Running command lines through the shell and checking a package's signature
// report.
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "log/installer_log.h"
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

bool Contains(std::string_view line, std::string_view name) {
  return line.find(name) != std::string_view::npos;
}

// The three certificate conditions, met one per line at most.
class CertificateChain {
 public:
  // Meets the first unmet condition, in the order root, intermediate,
  // signing, whose name the line holds.
  void Take(std::string_view line) {
    if (!root_ && Contains(line, kRootCertificate)) {
      root_ = true;
    } else if (!intermediate_ && Contains(line, kIntermediateCertificate)) {
      intermediate_ = true;
    } else if (!signing_) {
      for (const char* name : kSigningCertificates) {
        if (Contains(line, name)) {
          signing_ = true;
          break;
        }
      }
    }
  }

  bool Complete() const { return root_ && intermediate_ && signing_; }

 private:
  bool root_ = false;
  bool intermediate_ = false;
  bool signing_ = false;
};

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
  ReplaceInvalidUtf8(output);
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
  ReplaceInvalidUtf8(result.output);
  const std::string& text = result.output;
  if (text.empty()) return false;

  CertificateChain chain;
  const std::string_view view(text);
  size_t lineStart = 0;
  size_t at = 0;
  for (;;) {
    size_t breakLength = 0;
    while (at < view.size() && (breakLength = LineBreakLength(view, at)) == 0) ++at;
    chain.Take(view.substr(lineStart, at - lineStart));
    if (chain.Complete()) {
      log_.Log("All certs present, pkg validation succeeded");
      return true;
    }
    if (at == view.size()) return false;
    at += breakLength;
    lineStart = at;
  }
}
