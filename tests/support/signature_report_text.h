// The report of "pkgutil --check-signature" as the platform prints it, for
// tests that stand in for the package utility.
#ifndef SKIFF_TESTS_SUPPORT_SIGNATURE_REPORT_TEXT_H_
#define SKIFF_TESTS_SUPPORT_SIGNATURE_REPORT_TEXT_H_

#include <string>
#include <vector>

// A chain that passes the check: signing, intermediate and root certificate.
inline const std::vector<std::string> kAcceptedChain = {
    "Developer ID Installer: Orvane Systems, Inc. (K4T7W2Q9PX)",
    "Developer ID Certification Authority", "Apple Root CA"};

// The package line, the status line and the chain section naming `chain`
// in order, each certificate with its expiry and fingerprint lines.
std::string SignatureReportText(const std::vector<std::string>& chain = kAcceptedChain,
                                const std::string& packageName = "Folian Installer.pkg");

#endif  // SKIFF_TESTS_SUPPORT_SIGNATURE_REPORT_TEXT_H_
