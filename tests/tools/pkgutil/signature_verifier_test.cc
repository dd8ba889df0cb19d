// The verdicts on well-formed packages: valid ones, and each way a signature,
// its chain or its validity can fail.
#include "tools/pkgutil/signature_verifier.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <filesystem>
#include <functional>
#include <optional>

#include "tests/tools/pkgutil/package_test_fixture.h"

namespace {

using pkgutil::Verdict;
using pkgutil::VerificationResult;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr std::time_t kYear = 365 * 24 * 60 * 60;

std::vector<std::string> Names(const VerificationResult& result) {
  std::vector<std::string> names;
  for (const pkgutil::CertificateSummary& certificate : result.chain)
    names.push_back(certificate.commonName);
  return names;
}

TEST_F(PackageTest, ValidPackagesPassForEitherSigningName) {
  for (const char* name : {kTestSignerName, kTestSecondSignerName}) {
    TestChainOptions options;
    options.signerName = name;
    const VerificationResult result = Check(WriteFlatPackage(SignedBy(MakeTestChain(options))));
    EXPECT_EQ(result.verdict, Verdict::kValid) << StatusText(result);
    EXPECT_THAT(Names(result), ElementsAre(name, kTestIntermediateName, kTestRootName));
    EXPECT_TRUE(result.trustedTimestamp.has_value());
  }
}

TEST_F(PackageTest, EveryChecksumKindIsVerified) {
  const std::pair<PackageChecksum, const char*> kinds[] = {{PackageChecksum::kSha1, ""},
                                                           {PackageChecksum::kSha256, ""},
                                                           {PackageChecksum::kSha256, "SHA-256"},
                                                           {PackageChecksum::kSha512, "sha-512"}};
  for (const auto& [checksum, headerName] : kinds) {
    FlatPackageOptions recipe = Signed();
    recipe.checksum = checksum;
    recipe.headerChecksumName = headerName;
    EXPECT_EQ(Check(WriteFlatPackage(recipe)).verdict, Verdict::kValid) << headerName;
    recipe.tamperToc = true;
    EXPECT_EQ(Check(WriteFlatPackage(recipe)).verdict, Verdict::kTocModified) << headerName;
  }
}

TEST_F(PackageTest, ReportsTheVerifiedChainWithTheAnchorsExpiryAndFingerprint) {
  TestChainOptions options;
  options.now = 1700000000;  // the root expires ten years on: 2033-11-11 22:13:20 UTC
  const TestChain chain = MakeTestChain(options);
  chain.WriteRootPem(trust_.path());
  FlatPackageOptions recipe = SignedBy(chain);
  recipe.certificates = chain.Der(/*withRoot=*/false);
  const VerificationResult result = Check(WriteFlatPackage(recipe), options.now);
  ASSERT_EQ(result.verdict, Verdict::kValid) << StatusText(result);
  ASSERT_EQ(result.chain.size(), 3u);
  EXPECT_EQ(result.chain[2].expires, "2033-11-11 22:13:20 +0000");
  const std::string der = chain.root.Der();
  unsigned char digest[32];
  ASSERT_EQ(EVP_Digest(der.data(), der.size(), digest, nullptr, EVP_sha256(), nullptr), 1);
  EXPECT_TRUE(std::equal(digest, digest + 32, result.chain[2].sha256Fingerprint.begin()));
}

TEST_F(PackageTest, TamperingIsDetected) {
  const Validity current = CurrentValidity(std::time(nullptr));
  const TestCertificate impostor = IssueCertificate(kTestSignerName, TestKeys::Shared().other,
                                                    &chain_.intermediate, false, current);
  const TestCertificate otherIntermediate = IssueCertificate(
      kTestIntermediateName, TestKeys::Shared().other, &chain_.root, true, current);
  struct Case {
    const char* name;
    std::function<void(FlatPackageOptions*)> tamper;
    Verdict verdict;
    const char* reason;
  };
  const Case cases[] = {
      {"toc", [](FlatPackageOptions* s) { s->tamperToc = true; }, Verdict::kTocModified,
       "does not match its stored sha1 checksum"},
      {"checksum", [](FlatPackageOptions* s) { s->tamperChecksum = true; }, Verdict::kTocModified,
       "does not match"},
      {"signature", [](FlatPackageOptions* s) { s->tamperSignature = true; },
       Verdict::kBadSignature, "does not verify"},
      {"cms over another checksum", [](FlatPackageOptions* s) { s->cmsOverOtherChecksum = true; },
       Verdict::kBadSignature, "the CMS signature does not verify over the checksum"},
      {"cms cut short", [](FlatPackageOptions* s) { s->cmsSignatureSize = 3; },
       Verdict::kBadSignature, "the CMS signature cannot be read"},
      {"signer swapped", [&](FlatPackageOptions* s) { s->certificates[0] = impostor.Der(); },
       Verdict::kBadSignature, "does not verify"},
      {"intermediate swapped",
       [&](FlatPackageOptions* s) { s->certificates[1] = otherIntermediate.Der(); },
       Verdict::kBrokenChain, "certificate 1 (\"Developer ID Installer"},
      {"out of order",
       [](FlatPackageOptions* s) { std::swap(s->certificates[1], s->certificates[2]); },
       Verdict::kBrokenChain, "is not issued by certificate 2 (\"Apple Root CA\")"},
      {"unreadable certificate", [](FlatPackageOptions* s) { s->certificates[1] = "not DER"; },
       Verdict::kBrokenChain, "certificate 2 cannot be read"},
      {"no certificates", [](FlatPackageOptions* s) { s->certificates.clear(); },
       Verdict::kBrokenChain, "no certificate"},
  };
  for (const Case& c : cases) {
    FlatPackageOptions recipe = Signed();
    c.tamper(&recipe);
    const VerificationResult result = Check(WriteFlatPackage(recipe));
    EXPECT_EQ(result.verdict, c.verdict) << c.name << ": " << StatusText(result);
    EXPECT_THAT(result.detail, HasSubstr(c.reason)) << c.name;
  }
}

// A chain whose signing certificate expired a year ago, signed two years ago.
TEST_F(PackageTest, CertificatesMustBeValidWhenTrustedlyStampedElseAtTheGivenTime) {
  const std::time_t now = std::time(nullptr);
  const std::time_t signedAt = now - 2 * kYear;
  TestChainOptions options;
  options.now = signedAt;
  options.signerValidity = Validity{now - 3 * kYear, now - kYear};
  const TestChain chain = MakeTestChain(options);
  chain.WriteRootPem(trust_.path());
  struct Case {
    const char* name;
    std::optional<std::time_t> stampedAt;  // default: now
    bool tamperImprint;
    bool rsaOnly;
    bool trustAuthority;
    std::time_t checkedAt;
    Verdict verdict;
    const char* detail;
  };
  const Case cases[] = {
      {"stamped while valid", signedAt, false, false, true, now, Verdict::kValid, ""},
      {"stamped after expiry", {}, false, false, true, now, Verdict::kExpired, " at the trusted"},
      {"authority not trusted", signedAt, false, false, false, now, Verdict::kExpired,
       "certificate verify error"},
      {"imprint of other bytes", signedAt, true, false, true, now, Verdict::kExpired,
       "message imprint mismatch"},
      {"rsa only", {}, false, true, true, now, Verdict::kExpired, "expired on"},
      {"rsa only, checked when signed", {}, false, true, true, signedAt, Verdict::kValid, ""},
  };
  for (const Case& c : cases) {
    FlatPackageOptions recipe = SignedBy(chain);
    recipe.timestampTime = c.stampedAt;
    recipe.tamperTimestampImprint = c.tamperImprint;
    if (c.rsaOnly) recipe.signingCertificate = nullptr;
    if (c.trustAuthority) {
      timestamps_.WriteRootPem(trust_.path());
    } else {
      std::filesystem::remove(trust_.path() + "/test-timestamp-root.pem");
    }
    const VerificationResult result = Check(WriteFlatPackage(recipe), c.checkedAt);
    EXPECT_EQ(result.verdict, c.verdict) << c.name << ": " << result.detail;
    EXPECT_THAT(result.detail, HasSubstr(c.detail)) << c.name;
    const bool stamped = c.verdict == Verdict::kValid && !c.rsaOnly;
    EXPECT_EQ(result.trustedTimestamp, stamped ? c.stampedAt : std::nullopt) << c.name;
    EXPECT_EQ(result.chain.size(), 3u) << c.name;
  }

  TestChainOptions future;
  future.intermediateValidity = Validity{now + kYear, now + 2 * kYear};
  EXPECT_EQ(Check(WriteFlatPackage(SignedBy(MakeTestChain(future))), now).verdict,
            Verdict::kNotYetValid);
}

TEST_F(PackageTest, ChainsMustEndInTheTrustFolder) {
  TestChainOptions options;
  options.foreignRoot = true;
  const VerificationResult foreign = Check(WriteFlatPackage(SignedBy(MakeTestChain(options))));
  EXPECT_EQ(foreign.verdict, Verdict::kUntrustedChain) << StatusText(foreign);
  EXPECT_THAT(foreign.detail, HasSubstr(trust_.path()));

  // Only *.pem files count as anchors.
  const std::string package = WriteFlatPackage(Signed());
  std::filesystem::rename(trust_.path() + "/test-root.pem", trust_.path() + "/test-root.crt");
  EXPECT_EQ(Check(package).verdict, Verdict::kUntrustedChain);
  WriteFileOrDie(trust_.path() + "/a.pem", "not a certificate");
  WriteFileOrDie(trust_.path() + "/b.pem", chain_.intermediate.Pem() + chain_.root.Pem());
  EXPECT_EQ(Check(package).verdict, Verdict::kValid);
}

}  // namespace
