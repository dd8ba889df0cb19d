// The printed report: its exact shape, and one line per name whatever the
// names hold.
#include "tools/pkgutil/signature_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using pkgutil::CertificateSummary;
using pkgutil::FormatSignatureReport;
using pkgutil::Verdict;
using pkgutil::VerificationResult;
using ::testing::HasSubstr;

CertificateSummary Certificate(const std::string& name, uint8_t firstByte) {
  CertificateSummary certificate;
  certificate.commonName = name;
  certificate.expires = "2031-09-17 00:00:00 +0000";
  for (size_t i = 0; i < certificate.sha256Fingerprint.size(); ++i)
    certificate.sha256Fingerprint[i] = static_cast<uint8_t>(firstByte + i);
  return certificate;
}

TEST(SignatureReportTest, ValidChainInTheDocumentedShape) {
  VerificationResult result;
  result.verdict = Verdict::kValid;
  result.chain = {Certificate("Developer ID Installer: Orvane Systems, Inc. (K4T7W2Q9PX)", 0xF0),
                  Certificate("Apple Root CA", 0x00)};
  const std::string separator = "       " + std::string(72, '-') + "\n";
  EXPECT_EQ(FormatSignatureReport("/tmp/pkgs/Folian Installer.pkg", result),
            "Package \"Folian Installer.pkg\":\n"
            "   Status: signed by a developer certificate issued by the platform for "
            "distribution\n"
            "   Certificate Chain:\n"
            "    1. Developer ID Installer: Orvane Systems, Inc. (K4T7W2Q9PX)\n"
            "       Expires: 2031-09-17 00:00:00 +0000\n"
            "       SHA256 Fingerprint:\n"
            "           F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF\n"
            "           00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n" +
                separator +
                "    2. Apple Root CA\n"
                "       Expires: 2031-09-17 00:00:00 +0000\n"
                "       SHA256 Fingerprint:\n"
                "           00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n"
                "           10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F\n");
}

TEST(SignatureReportTest, FailureWithoutCertificatesHasOnlyTheStatus) {
  VerificationResult result;
  result.verdict = Verdict::kMalformed;
  result.detail = "the TOC is empty";
  EXPECT_EQ(FormatSignatureReport("plain.pkg", result),
            "Package \"plain.pkg\":\n"
            "   Status: not a valid flat package: the TOC is empty\n");
}

TEST(SignatureReportTest, LineBreaksInNamesCannotForgeLines) {
  VerificationResult result;
  result.verdict = Verdict::kUntrustedChain;
  result.chain = {Certificate("Evil\nApple Root CA", 0)};
  const std::string report = FormatSignatureReport("/x/a\rb.pkg", result);
  EXPECT_THAT(report, HasSubstr("    1. Evil\\x0AApple Root CA\n"));
  EXPECT_THAT(report, HasSubstr("Package \"a\\x0Db.pkg\":\n"));
  EXPECT_THAT(report, ::testing::Not(HasSubstr("\nApple Root CA")));
}

}  // namespace
