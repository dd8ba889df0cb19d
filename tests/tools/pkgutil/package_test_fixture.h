// A trusted test chain and time-stamp authority with their roots in a trust
// folder of the test's own, and a checker that uses that folder.
#ifndef SKIFF_TESTS_TOOLS_PKGUTIL_PACKAGE_TEST_FIXTURE_H_
#define SKIFF_TESTS_TOOLS_PKGUTIL_PACKAGE_TEST_FIXTURE_H_

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "tests/support/scoped_temp_dir.h"
#include "tools/make_test_package/flat_package_writer.h"
#include "tools/make_test_package/test_certificates.h"
#include "tools/pkgutil/signature_verifier.h"

class PackageTest : public ::testing::Test {
 protected:
  PackageTest() {
    chain_.WriteRootPem(trust_.path());
    timestamps_.WriteRootPem(trust_.path());
  }

  // Signed as the platform's signing tool does: RSA, and CMS with a time
  // stamp of now.
  FlatPackageOptions SignedBy(const TestChain& chain) const {
    FlatPackageOptions recipe;
    recipe.signingKey = chain.signer.key;
    recipe.signingCertificate = chain.signer.certificate;
    recipe.certificates = chain.Der();
    recipe.timestampAuthority = timestamps_.authority;
    return recipe;
  }
  FlatPackageOptions Signed() const { return SignedBy(chain_); }

  pkgutil::VerificationResult Check(const std::string& package,
                                    std::time_t now = std::time(nullptr)) const {
    return pkgutil::SignatureVerifier(trust_.path(), now).VerifyBytes(package);
  }

  ScopedTempDir trust_;
  TestChain chain_ = MakeTestChain();
  TestTimestampAuthority timestamps_ = MakeTestTimestampAuthority();
};

#endif  // SKIFF_TESTS_TOOLS_PKGUTIL_PACKAGE_TEST_FIXTURE_H_
