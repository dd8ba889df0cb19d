// pkgutil's verdicts, one row each. A row's recipe says how its package is made
// (signed as the platform's signing tool does, then re-signed, spoiled or
// replaced, see Make); pkgutil must print the row's status line and detail
// and end with the row's exit status.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/scoped_temp_dir.h"
#include "tools/make_test_package/flat_package_writer.h"
#include "tools/make_test_package/test_certificates.h"
#include "tools/pkgutil/signature_report.h"
#include "tools/pkgutil/signature_verifier.h"

namespace {

constexpr std::time_t kYear = 365 * 24 * 60 * 60;
// A name with every kind of line break, and neighbours of them that stay.
constexpr char kEvil[] = "Evil\n\x7f\x1b\xC2\x85\xE2\x80\xA8\xE2\x80\xA9\xC2\xA0\xE2\x80\xA7";
constexpr char kEvilShown[] = "Evil\\x0A\\x7F\\x1B\\u0085\\u2028\\u2029\xC2\xA0\xE2\x80\xA7";

struct Outcome {
  const char* status;  // and what follows the Status line at once
  int exit;
};
const Outcome kValid = {"signed by a developer certificate issued by Apple for distribution", 0};
const Outcome kUnsigned = {"no signature", 1};
const Outcome kSpoiled = {"package is invalid (checksum did not verify)", 1};
const Outcome kMalformed = {"package is invalid (checksum did not verify)", 3};
const Outcome kUntrusted = {"signed by untrusted certificate", 1};
// An expired chain is still shown.
const Outcome kExpired = {"signed by a certificate that has since expired\n   Certificate Chain:",
                          1};

struct Row {
  const char* name;
  std::string recipe;
  Outcome outcome;
  std::string shown;  // in the report or the detail on standard error
  friend void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }
};

std::string InToc(const std::string& inside) { return "toc:<xar><toc>" + inside + "</toc></xar>"; }
std::string Checksum(const std::string& inside) {
  return InToc("<checksum>" + inside + "</checksum>");
}
std::string Certificates(const std::string& certificate, int copies = 1) {
  std::string all;
  while (copies-- > 0) all += certificate;
  return InToc("<signature style=\"RSA\"><offset> 20 </offset><size>256</size><ds:KeyInfo>" +
               ("<ds:X509Data>" + all + "</ds:X509Data></ds:KeyInfo></signature>"));
}

const Row kRows[] = {
    // The anchor ends the chain, after a separator.
    {"Valid", "", kValid,
     "\n       " + std::string(72, '-') + "\n    3. Apple Root CA\n       Expires: "},
    {"Unsigned", InToc(""), kUnsigned, ""},
    {"NameKeptToOneLine", "evil", kValid, "    1. " + std::string(kEvilShown) + "\n"},
    // Stamped and checked at 1700000000; the root, which expires ten years
    // on, comes from the trust folder.
    {"AnchorFromTheTrustFolder", "in2023 noRoot", kValid,
     "   Signed with a trusted timestamp on: 2023-11-14 22:13:20 +0000\n   Certificate Chain:\n"
     "    1. Developer ID Installer: Orvane Systems, Inc. (K4T7W2Q9PX)\n       Expires: 2033-11-11 "
     "22:13:20 +0000\n       SHA256 Fingerprint:\n"},
    {"Sha512Named", "sha512 name=SHA-512", kValid, ""},
    {"OnlyPemFilesAreAnchors", "crt", kUntrusted, "trust anchor of "},
    {"UnreadablePemBesideAnAnchor", "crt bundle", kValid, ""},
    // Spoiled after signing.
    {"TocTampered", "sha512 tamperToc", kSpoiled,
     "the TOC does not match its stored sha512 checksum\n"},
    {"SignatureTampered", "tamperSignature", kSpoiled, "does not verify"},
    {"CmsOverAnotherChecksum", "cmsOverOther", kSpoiled, "CMS signature does not verify over"},
    {"CmsCutShort", "cmsSize=3", kSpoiled, "the CMS signature cannot be read"},
    {"OutOfOrder", "evil swap", kUntrusted,
     "pkgutil: certificate 1 (\"" + std::string(kEvilShown) +
         "\") is not issued by certificate 2 (\"Apple Root CA\")\n"},
    {"UnreadableCertificate", "junk", kUntrusted, "certificate 2 cannot be read"},
    {"NoCertificates", "noCertificates", kUntrusted, "no certificate"},
    // Validity: at the trusted time stamp, else now.
    {"StampedWhileValid", "expired", kValid, "   Signed with a trusted timestamp on: "},
    {"StampedAfterExpiry", "expired stampedNow", kExpired, "at the trusted time stamp"},
    {"AuthorityNotTrusted", "expired noTsa", kExpired, "certificate verify error"},
    {"ImprintOfOtherBytes", "expired imprint", kExpired, "message imprint mismatch"},
    {"RsaOnly", "rsaOnly", kValid, ""},
    {"NotYetValid", "future", kUntrusted, "is valid only from"},
    // Nothing at the path.
    {"NoFile", "missing", kMalformed, "pkgutil: No such file or directory\n"},
    // Hostile headers: put:OFFSET:WIDTH:VALUE, add:OFFSET:DELTA (to a length),
    // cut:LENGTH.
    {"ShorterThanHeader", "cut:27", kMalformed, "too short"},
    {"NotAFlatPackage", "put:0:4:0", kMalformed, "magic"},
    {"HeaderSizeTooSmall", "put:4:2:27", kMalformed, "smaller than"},
    {"Version", "put:6:2:2", kMalformed, "version 2"},
    {"Md5Refused", "put:24:4:2", kMalformed, "MD5"},
    {"CompressedLengthPastEnd", "add:8:100000", kMalformed, "runs past the end of the file"},
    {"HugeUncompressedLength", "put:16:8:18446744073709551615", kMalformed, "exceeds the limit"},
    {"InflatesToLess", "add:16:1", kMalformed, "not the declared"},
    {"InflatesToMore", "add:16:-1", kMalformed, "more than the declared"},
    {"CompressedTocWithTrailingData", "add:8:1", kMalformed, "after its end"},
    // A TOC lying about its heap.
    {"UnknownAlgorithmName", "sha512 name=md5", kMalformed, "unsupported checksum algorithm \"md5"},
    {"HeaderAndTocChecksumsDiffer", "sha512 name=sha1", kMalformed, "not match the header's sha1"},
    {"ChecksumOffsetOverflows", "checksumOffset=18446744073709551610", kMalformed,
     "runs past the end of the heap"},
    {"ChecksumSizeMismatch", "checksumSize=32", kMalformed, "size 32 is not that of a sha1 digest"},
    {"SignatureOffsetPastEnd", "signatureOffset=1048576", kMalformed, "past the end of the heap"},
    {"SignatureSizeZero", "signatureSize=0", kMalformed, "size is 0"},
    {"CmsSignaturePastEnd", "cmsSize=60000", kMalformed, "x-signature: heap item"},
    // TOCs that cannot be read.
    {"NotWellFormed", "toc:<xar><toc>", kMalformed, "not well-formed"},
    {"OtherRoot", "toc:<other><toc/></other>", kMalformed, "root element"},
    {"NoToc", "toc:<xar/>", kMalformed, "no <toc>"},
    {"NoOffset", Checksum("<size>20</size>"), kMalformed, "checksum has no offset"},
    {"HexOffset", Checksum("<offset>0x1</offset><size>2</size>"), kMalformed, "not a number"},
    {"OffsetBeyond64Bits", Checksum("<offset>18446744073709551616</offset><size>1</size>"),
     kMalformed, "not a number"},
    // Prefixed names, blanks around numbers and wrapped base64 are read.
    {"SecondCertificateNotBase64",
     Certificates("<ds:X509Certificate>\n  aGVs\n  bG8=\n</ds:X509Certificate>"
                  "<ds:X509Certificate>!!!!</ds:X509Certificate>"),
     kMalformed, "certificate 2 of the TOC signature is not base64"},
    {"TooManyCertificates", Certificates("<X509Certificate>AAEC</X509Certificate>", 17), kMalformed,
     "more than 16 certificates"},
};

class PackageVerdictTest : public ::testing::TestWithParam<Row> {
 protected:
  PackageVerdictTest() { timestamps_.WriteRootPem(trust_); }

  // Applies the words of `recipe` in order. Chain words (evil, in2023, expired,
  // future) sign anew, RSA and CMS with a time stamp of then, so
  // they come first.
  std::string Make(const std::string& recipe) {
    if (recipe.rfind("toc:", 0) == 0) return TocOnly(recipe.substr(4));
    TestChainOptions options;
    std::string package;
    std::istringstream words("sign " + recipe);
    for (std::string word; words >> word;) {
      const std::string key = word.substr(0, word.find_first_of("=:"));
      const std::string value = word.substr(std::min(word.size(), key.size() + 1));
      std::vector<uint64_t> n;  // "-1" wraps, so adding it subtracts one
      std::istringstream fields(std::isalpha(value[0]) ? "" : value);
      for (std::string field; std::getline(fields, field, ':');) n.push_back(std::stoull(field));
      if (key == "evil") options.signerName = kEvil;
      if (key == "in2023") options.now = now_ = 1700000000;
      if (key == "expired") {  // signed two years ago, expired one year ago
        options.now = now_ - 2 * kYear;
        options.signerValidity = Validity{now_ - 3 * kYear, now_ - kYear};
      }
      if (key == "future") options.intermediateValidity = Validity{now_ + kYear, now_ + 2 * kYear};
      if (std::string(" sign evil in2023 expired future ").find(" " + key + " ") !=
          std::string::npos) {
        chain_ = MakeTestChain(options);
        chain_.WriteRootPem(trust_);
        recipe_.signingKey = chain_.signer.key;
        recipe_.signingCertificate = chain_.signer.certificate;
        recipe_.certificates = chain_.Der();
        recipe_.timestampAuthority = timestamps_.authority;
        recipe_.timestampTime = options.now;
      }
      if (key == "missing") return "";
      if (key == "stampedNow") recipe_.timestampTime = now_;
      if (key == "noRoot") recipe_.certificates.pop_back();
      if (key == "sha512") recipe_.checksum = PackageChecksum::kSha512;
      if (key == "name") recipe_.headerChecksumName = value;
      if (key == "tamperToc") recipe_.tamperToc = true;
      if (key == "tamperSignature") recipe_.tamperSignature = true;
      if (key == "cmsOverOther") recipe_.cmsOverOtherChecksum = true;
      if (key == "imprint") recipe_.tamperTimestampImprint = true;
      if (key == "rsaOnly") recipe_.signingCertificate = nullptr;
      if (key == "checksumOffset") recipe_.checksumOffset = n[0];
      if (key == "checksumSize") recipe_.checksumSize = n[0];
      if (key == "signatureOffset") recipe_.signatureOffset = n[0];
      if (key == "signatureSize") recipe_.signatureSize = n[0];
      if (key == "cmsSize") recipe_.cmsSignatureSize = n[0];
      if (key == "swap") std::swap(recipe_.certificates[1], recipe_.certificates[2]);
      if (key == "junk") recipe_.certificates[1] = "not DER";
      if (key == "noCertificates") recipe_.certificates.clear();
      if (key == "noTsa") std::filesystem::remove(trust_ + "/test-timestamp-root.pem");
      if (key == "crt") std::filesystem::rename(trust_ + "/test-root.pem", trust_ + "/root.crt");
      if (key == "bundle") WriteFileOrDie(trust_ + "/a.pem", "not a certificate");
      if (key == "bundle")
        WriteFileOrDie(trust_ + "/b.pem", chain_.intermediate.Pem() + chain_.root.Pem());
      // Edits of the written bytes (KEY:...) come last.
      if (package.empty() && word[key.size()] == ':') package = WriteFlatPackage(recipe_);
      if (key == "put") PutBigEndian(&package, n[0], n[2], n[1]);
      if (key == "add") PutBigEndian(&package, n[0], GetBigEndian(package, n[0], 8) + n[1], 8);
      if (key == "cut") package.resize(n[0]);
    }
    return package.empty() ? WriteFlatPackage(recipe_) : package;
  }
  // From a file, as the program reads it; no bytes, no file.
  pkgutil::VerificationResult Check(const std::string& package) const {
    if (!package.empty()) WriteFileOrDie(dir_.path() + "/a.pkg", package);
    return pkgutil::SignatureVerifier(trust_, now_).VerifyFile(dir_.path() + "/a.pkg");
  }
  // An unsigned package around `xml`.
  static std::string TocOnly(const std::string& xml) {
    std::string bytes = WriteFlatPackage(FlatPackageOptions()).substr(0, 28);
    PutBigEndian(&bytes, FlatPackageLayout::kUncompressedTocLength, xml.size(), 8);
    const std::string compressed = CompressToc(xml);
    PutBigEndian(&bytes, FlatPackageLayout::kCompressedTocLength, compressed.size(), 8);
    return bytes + compressed;
  }

  ScopedTempDir dir_;
  const std::string trust_ = dir_.path() + "/anchors";
  TestTimestampAuthority timestamps_ = MakeTestTimestampAuthority();
  std::time_t now_ = std::time(nullptr);
  TestChain chain_;
  FlatPackageOptions recipe_;
};

TEST_P(PackageVerdictTest, PrintsTheStatusAndDetailAndExits) {
  const Row& row = GetParam();
  const pkgutil::VerificationResult result = Check(Make(row.recipe));
  const std::string report = pkgutil::FormatSignatureReport("/x/a\rb.pkg", result);
  const std::string head =
      "Package \"a\\x0Db.pkg\":\n   Status: " + std::string(row.outcome.status) + "\n";
  EXPECT_THAT(report, ::testing::StartsWith(head));
  EXPECT_THAT(report + pkgutil::FormatFailureDetail(result), ::testing::HasSubstr(row.shown));
  EXPECT_EQ(pkgutil::ExitStatus(result.verdict), row.outcome.exit) << report;
  // Without a readable chain, the status alone.
  if (row.outcome.exit == 3) {
    EXPECT_EQ(report, head);
    return;
  }
  if (row.outcome.exit != 0) return;
  EXPECT_EQ(pkgutil::FormatFailureDetail(result), "");
  // The anchor's SHA-256 in two lines of 16 bytes.
  const std::string der = chain_.root.Der();
  unsigned char digest[32];
  ASSERT_EQ(EVP_Digest(der.data(), der.size(), digest, nullptr, EVP_sha256(), nullptr), 1);
  std::string hex;
  for (int i = 0; i < 32; ++i) {
    char byte[3];
    std::snprintf(byte, sizeof byte, "%02X", digest[i]);
    hex += (i % 16 == 0 ? "\n           " : " ") + std::string(byte);
  }
  EXPECT_THAT(report, ::testing::EndsWith("       SHA256 Fingerprint:" + hex + "\n"));
}

INSTANTIATE_TEST_SUITE_P(Packages, PackageVerdictTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
