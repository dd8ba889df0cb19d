// pkgutil --check-signature PATH: checks a flat installer package's signature
// against the machine's trust anchors and prints the report. Exits 0 only for
// a valid signature (see ExitStatus), 2 for any other command line.
#include <cstring>
#include <ctime>
#include <exception>
#include <iostream>
#include <string>

#include "tools/pkgutil/signature_report.h"
#include "tools/pkgutil/signature_verifier.h"

namespace {

// The one place trust comes from; nothing at run time can point elsewhere.
constexpr char kTrustAnchorFolder[] = "/Library/Skiff/TrustAnchors";

constexpr char kUsage[] =
    "usage: pkgutil --check-signature PATH\n"
    "  Checks the signature of the flat installer package at PATH against the\n"
    "  trust anchors (*.pem) in /Library/Skiff/TrustAnchors.\n"
    "  Exit status: 0 valid signature, 1 unsigned or not validly signed,\n"
    "  2 usage, 3 not a readable flat package.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || std::strcmp(argv[1], "--check-signature") != 0) {
    std::cerr << kUsage;
    return 2;
  }
  try {
    const pkgutil::SignatureVerifier verifier(kTrustAnchorFolder, std::time(nullptr));
    const pkgutil::VerificationResult result = verifier.VerifyFile(argv[2]);
    std::cout << pkgutil::FormatSignatureReport(argv[2], result) << std::flush;
    std::cerr << pkgutil::FormatFailureDetail(result);
    return pkgutil::ExitStatus(result.verdict);
  } catch (const std::exception& error) {
    std::cerr << "pkgutil: " << error.what() << "\n";
    return 3;
  }
}
