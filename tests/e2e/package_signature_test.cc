// install end to end with our own package utility: only a package whose
// signature really verifies reaches the system installer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/support/skiff_root.h"
#include "tools/make_test_package/flat_package_writer.h"
#include "tools/make_test_package/test_certificates.h"

namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;

constexpr char kProxyPath[] = "/tmp/proxy.xml";
constexpr char kPackagePath[] = "/tmp/Pkg Dir/Folian Installer.pkg";

class PackageSignatureTest : public ::testing::Test {
 protected:
  PackageSignatureTest() {
    root_.UsePackageUtility();
    chain_ = MakeTestChain();
    chain_.WriteRootPem(root_.HostPath(SkiffRoot::kTrustAnchorFolder));
    timestamps_.WriteRootPem(root_.HostPath(SkiffRoot::kTrustAnchorFolder));
    root_.WriteFile(kProxyPath, InstallProxyDocument("Folian Installer.pkg"));
    root_.WriteFile(
        SkiffRoot::kInputPath,
        DeploymentDocument({{"installSourcePath", "/tmp/Pkg Dir"}, {"proxyFile", kProxyPath}}));
  }

  void WritePackage(bool tamper) {
    FlatPackageOptions recipe;
    recipe.checksum = PackageChecksum::kSha256;
    recipe.signingKey = chain_.signer.key;
    recipe.signingCertificate = chain_.signer.certificate;
    recipe.certificates = chain_.Der();
    recipe.timestampAuthority = timestamps_.authority;
    recipe.tamperToc = tamper;
    root_.WriteFile(kPackagePath, WriteFlatPackage(recipe));
  }

  SkiffRoot root_;
  TestChain chain_;
  TestTimestampAuthority timestamps_ = MakeTestTimestampAuthority();
};

TEST_F(PackageSignatureTest, ASignedPackageIsInstalled) {
  WritePackage(false);
  const SkiffResult result = root_.RunHost("install");
  EXPECT_EQ(result.exitCode, 0) << result.Describe() << result.stderrText
                                << ::testing::PrintToString(root_.LastRunLogLines());
  EXPECT_THAT(root_.Tools().Calls("installer"), SizeIs(1));
  EXPECT_THAT(root_.LastRunLogLines(), Contains("All certs present, pkg validation succeeded"));
}

TEST_F(PackageSignatureTest, ATamperedPackageIsRefusedBeforeTheInstallerRuns) {
  WritePackage(true);
  const SkiffResult result = root_.RunHost("install");
  EXPECT_EQ(result.exitCode, 38) << result.Describe();
  EXPECT_THAT(result.stdoutText, HasSubstr("error 38\n"));
  EXPECT_THAT(root_.Tools().Calls("installer"), IsEmpty());
  const auto lines = root_.LastRunLogLines();
  EXPECT_EQ(FirstMissingInOrder(
                lines, {"Error in pkg validation", "TerminationStatus of pkg validation NSTask: 1",
                        "Output of install command: PKG validation failed"}),
            "");
}

}  // namespace
