// make_test_package OUT_PKG TRUST_DIR [--tamper] [--expired] [--unsigned]
//
// Writes a flat package signed by a fresh test chain to OUT_PKG, as the
// platform's signing tool does (RSA, and CMS with a time stamp of now), and
// the roots of the chain and of the time-stamp authority to
// TRUST_DIR/test-root.pem and TRUST_DIR/test-timestamp-root.pem, for demos
// and end-to-end runs of pkgutil. Each run makes new keys, so a package checks only against the
// root written with it. --tamper ships a TOC other than the signed one, --expired signs with a
// certificate that expired a year ago, --unsigned leaves the signature out (the root is written all
// the same).
#include <cstring>
#include <ctime>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>

#include "tools/make_test_package/flat_package_writer.h"
#include "tools/make_test_package/test_certificates.h"

namespace {

constexpr char kUsage[] =
    "usage: make_test_package OUT_PKG TRUST_DIR [--tamper] [--expired] [--unsigned]\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << kUsage;
    return 2;
  }
  bool tamper = false;
  bool expired = false;
  bool unsignedPackage = false;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--tamper") == 0) {
      tamper = true;
    } else if (std::strcmp(argv[i], "--expired") == 0) {
      expired = true;
    } else if (std::strcmp(argv[i], "--unsigned") == 0) {
      unsignedPackage = true;
    } else {
      std::cerr << kUsage;
      return 2;
    }
  }
  try {
    TestChainOptions options;
    if (expired) {
      const std::time_t year = 365 * 24 * 60 * 60;
      options.signerValidity = Validity{options.now - 3 * year, options.now - year};
    }
    const TestChain chain = MakeTestChain(options);
    chain.WriteRootPem(argv[2]);
    const TestTimestampAuthority timestamps = MakeTestTimestampAuthority(options.now);
    timestamps.WriteRootPem(argv[2]);

    FlatPackageOptions recipe;
    recipe.checksum = PackageChecksum::kSha256;
    if (!unsignedPackage) {
      recipe.signingKey = chain.signer.key;
      recipe.signingCertificate = chain.signer.certificate;
      recipe.certificates = chain.Der();
      recipe.timestampAuthority = timestamps.authority;
    }
    recipe.tamperToc = tamper;
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << WriteFlatPackage(recipe);
    if (!out.flush()) {
      std::cerr << "make_test_package: cannot write " << argv[1] << "\n";
      return 1;
    }
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "make_test_package: " << error.what() << "\n";
    return 1;
  }
}
