#include "tools/pkgutil/signature_report.h"

#include <cstdio>

namespace pkgutil {

namespace {

std::string OneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    } else {
      out += c;
    }
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
  out += "   Status: " + OneLine(StatusText(result)) + "\n";
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

}  // namespace pkgutil
