// RSA certificate chains for test packages, made with OpenSSL: a root, an
// intermediate and a signing certificate under the names package validation
// looks for, and a time-stamp authority for the packages' time stamps.
//
//   TestChain chain = MakeTestChain();
//   chain.WriteRootPem(trustFolder);
//   recipe.signingKey = chain.signer.key;
//   recipe.certificates = chain.Der();
//
// Key generation is slow (above all under sanitizers), so the five keys are
// made once per process (TestKeys::Shared) and every chain reuses them; the
// certificates themselves are cheap.
#ifndef SKIFF_TOOLS_MAKE_TEST_PACKAGE_TEST_CERTIFICATES_H_
#define SKIFF_TOOLS_MAKE_TEST_PACKAGE_TEST_CERTIFICATES_H_

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

constexpr char kTestRootName[] = "Apple Root CA";
constexpr char kTestIntermediateName[] = "Developer ID Certification Authority";
constexpr char kTestSignerName[] = "Developer ID Installer: Orvane Systems, Inc. (K4T7W2Q9PX)";
constexpr char kTestSecondSignerName[] = "Developer ID Installer: Orvane Inc. (K4T7W2Q9PX)";

using KeyPtr = std::shared_ptr<EVP_PKEY>;
using CertificatePtr = std::shared_ptr<X509>;

// Throws std::runtime_error when OpenSSL fails.
KeyPtr MakeRsaKey(int bits = 2048);

struct Validity {
  std::time_t notBefore;
  std::time_t notAfter;
};
// From a day before `now` to ten years after it.
Validity CurrentValidity(std::time_t now);

struct TestCertificate {
  CertificatePtr certificate;
  KeyPtr key;

  std::string Der() const;
  std::string Pem() const;
};

// Signed by `issuer`, or self-signed when it is null. Authorities get
// CA:TRUE and certificate signing; others CA:FALSE and digital signature,
// and the critical extended key usage `extendedKeyUsage` when given.
TestCertificate IssueCertificate(const std::string& commonName, const KeyPtr& key,
                                 const TestCertificate* issuer, bool isAuthority,
                                 const Validity& validity, const char* extendedKeyUsage = nullptr);

struct TestChain {
  TestCertificate root;
  TestCertificate intermediate;
  TestCertificate signer;

  // DER, the signing certificate first, as a package carries them.
  std::vector<std::string> Der(bool withRoot = true) const;
  // Writes the root as "test-root.pem" into `folder`, creating it.
  void WriteRootPem(const std::string& folder) const;
};

class TestKeys {
 public:
  static const TestKeys& Shared();

  KeyPtr root;
  KeyPtr intermediate;
  KeyPtr signer;
  // For a second root of the same name, for certificates that replace one
  // of the chain's, and for the time-stamp authority's own root.
  KeyPtr other;
  KeyPtr timestamp;

 private:
  TestKeys();
};

struct TestChainOptions {
  std::string signerName = kTestSignerName;
  // Default: CurrentValidity(now).
  std::optional<Validity> signerValidity;
  std::optional<Validity> intermediateValidity;
  // The root (and so the intermediate's issuer) is made with TestKeys::other:
  // the same names, but a root that no trust folder written by another chain
  // holds.
  bool foreignRoot = false;
  std::time_t now = std::time(nullptr);
};

TestChain MakeTestChain(const TestChainOptions& options = TestChainOptions());

// A time-stamp authority under a root of its own, both valid from five years
// before `now` to ten years after it.
struct TestTimestampAuthority {
  TestCertificate root;
  TestCertificate authority;

  // Writes the root as "test-timestamp-root.pem" into `folder`, creating it.
  void WriteRootPem(const std::string& folder) const;
};

TestTimestampAuthority MakeTestTimestampAuthority(std::time_t now = std::time(nullptr));

#endif  // SKIFF_TOOLS_MAKE_TEST_PACKAGE_TEST_CERTIFICATES_H_
