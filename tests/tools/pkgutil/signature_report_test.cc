// The printed report: its exact shape, and one line per name whatever the
// names hold.
#include "tools/pkgutil/signature_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <utility>

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
  result.trustedTimestamp = 1709287200;
  result.chain = {Certificate("Developer ID Installer: Orvane Systems, Inc. (K4T7W2Q9PX)", 0xF0),
                  Certificate("Apple Root CA", 0x00)};
  const std::string separator = "       " + std::string(72, '-') + "\n";
  EXPECT_EQ(FormatSignatureReport("/tmp/pkgs/Folian Installer.pkg", result),
            "Package \"Folian Installer.pkg\":\n"
            "   Status: signed by a developer certificate issued by Apple for distribution\n"
            "   Signed with a trusted timestamp on: 2024-03-01 10:00:00 +0000\n"
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

TEST(SignatureReportTest, FailureHasOnlyThePlatformsStatusAndTheDetailApart) {
  VerificationResult result;
  result.verdict = Verdict::kMalformed;
  result.detail = "the TOC is empty";
  EXPECT_EQ(FormatSignatureReport("plain.pkg", result),
            "Package \"plain.pkg\":\n"
            "   Status: package is invalid (checksum did not verify)\n");
  EXPECT_EQ(pkgutil::FormatFailureDetail(result), "pkgutil: the TOC is empty\n");
  result.detail.clear();
  EXPECT_EQ(pkgutil::FormatFailureDetail(result), "");
}

TEST(SignatureReportTest, LineBreaksInNamesCannotForgeLines) {
  const std::pair<const char*, const char*> names[] = {
      {"Evil\nApple Root CA", "Evil\\x0AApple Root CA"},
      {"Evil\x7f\x1b", "Evil\\x7F\\x1B"},
      {"Evil\xC2\x85"
       "Apple Root CA",
       "Evil\\u0085Apple Root CA"},
      {"Evil\xE2\x80\xA8"
       "Apple Root CA",
       "Evil\\u2028Apple Root CA"},
      {"Evil\xE2\x80\xA9"
       "Apple Root CA",
       "Evil\\u2029Apple Root CA"},
      // Neighbours of the line breaks stay as they are.
      {"\xC2\xA0\xE2\x80\xA7\xE2\x80\xAA", "\xC2\xA0\xE2\x80\xA7\xE2\x80\xAA"},
  };
  for (const auto& [name, shown] : names) {
    VerificationResult result;
    result.verdict = Verdict::kUntrustedChain;
    result.chain = {Certificate(name, 0)};
    result.detail = std::string("certificate 1 (\"") + name + "\")";
    EXPECT_THAT(FormatSignatureReport("/x/a.pkg", result),
                HasSubstr(std::string("\n    1. ") + shown + "\n       Expires:"))
        << shown;
    EXPECT_EQ(pkgutil::FormatFailureDetail(result),
              std::string("pkgutil: certificate 1 (\"") + shown + "\")\n");
  }
  VerificationResult result;
  result.verdict = Verdict::kNoSignature;
  EXPECT_THAT(FormatSignatureReport("/x/a\rb.pkg", result),
              HasSubstr("Package \"a\\x0Db.pkg\":\n"));
}

}  // namespace
