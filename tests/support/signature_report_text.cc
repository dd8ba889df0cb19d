#include "tests/support/signature_report_text.h"

std::string SignatureReportText(const std::vector<std::string>& chain,
                                const std::string& packageName) {
  std::string report =
      "Package \"" + packageName +
      "\":\n"
      "   Status: signed by a developer certificate issued by the platform for distribution\n"
      "   Certificate Chain:\n";
  for (size_t i = 0; i < chain.size(); ++i) {
    if (i > 0) report += "       " + std::string(72, '-') + "\n";
    report += "    " + std::to_string(i + 1) + ". " + chain[i] +
              "\n"
              "       Expires: 2031-09-17 00:00:00 +0000\n"
              "       SHA256 Fingerprint:\n"
              "           3D 4A 9F 10 C2 7B 55 E0 81 3A 6D 2E 90 11 4C F7\n"
              "           08 AB 61 D4 3E 77 0C 92 B5 1F E6 28 4D 83 CA 09\n";
  }
  return report;
}
