#include "tools/pkgutil/signature_report.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace pkgutil {

namespace {

// The line breaks a reader's newline set holds beyond the C0 controls: NEL,
// LINE SEPARATOR and PARAGRAPH SEPARATOR, as UTF-8.
constexpr const char* kUnicodeLineBreaks[][2] = {
    {"\xC2\x85", "\\u0085"}, {"\xE2\x80\xA8", "\\u2028"}, {"\xE2\x80\xA9", "\\u2029"}};

std::string OneLine(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
      continue;
    }
    bool replaced = false;
    for (const auto& [utf8, escaped] : kUnicodeLineBreaks) {
      if (text.compare(i, std::strlen(utf8), utf8) == 0) {
        out += escaped;
        i += std::strlen(utf8) - 1;
        replaced = true;
        break;
      }
    }
    if (!replaced) out += text[i];
  }
  return out;
}

std::string BaseName(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const std::string::size_type slash = trimmed.rfind('/');
  return slash == std::string::npos || trimmed.size() == 1 ? trimmed : trimmed.substr(slash + 1);
}

void AppendFingerprint(const CertificateSummary& certificate, std::string* out) {
  const size_t kPerLine = 16;
  for (size_t i = 0; i < certificate.sha256Fingerprint.size(); ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", certificate.sha256Fingerprint[i]);
    *out += i % kPerLine == 0 ? "           " : " ";
    *out += hex;
    if (i % kPerLine == kPerLine - 1 || i + 1 == certificate.sha256Fingerprint.size()) *out += "\n";
  }
}

}  // namespace

std::string FormatSignatureReport(const std::string& packagePath,
                                  const VerificationResult& result) {
  std::string out = "Package \"" + OneLine(BaseName(packagePath)) + "\":\n";
  out += "   Status: " + StatusText(result) + "\n";
  if (result.trustedTimestamp) {
    struct tm parts;
    std::memset(&parts, 0, sizeof parts);
    if (gmtime_r(&*result.trustedTimestamp, &parts) != nullptr)
      out += "   Signed with a trusted timestamp on: " + FormatUtc(parts) + "\n";
  }
  if (result.chain.empty()) return out;
  out += "   Certificate Chain:\n";
  for (size_t i = 0; i < result.chain.size(); ++i) {
    const CertificateSummary& certificate = result.chain[i];
    if (i > 0) out += "       " + std::string(72, '-') + "\n";
    out += "    " + std::to_string(i + 1) + ". " + OneLine(certificate.commonName) + "\n";
    out += "       Expires: " + certificate.expires + "\n";
    out += "       SHA256 Fingerprint:\n";
    AppendFingerprint(certificate, &out);
  }
  return out;
}

std::string FormatFailureDetail(const VerificationResult& result) {
  return result.detail.empty() ? "" : "pkgutil: " + OneLine(result.detail) + "\n";
}

}  // namespace pkgutil
