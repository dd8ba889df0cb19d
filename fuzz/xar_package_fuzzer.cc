// Runs arbitrary bytes through the whole signature check as a package and
// prints the report and the detail. Without trust anchors nothing may pass,
// and both must keep to their shape: one line per certificate name and one
// for the detail, whatever the bytes hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "tools/pkgutil/signature_report.h"
#include "tools/pkgutil/signature_verifier.h"

namespace {

// A folder that holds no anchors, and a fixed moment so runs reproduce.
constexpr char kNoTrustAnchors[] = "/nonexistent/skiff-fuzz-trust-anchors";
constexpr std::time_t kNow = 1700000000;

size_t ExpectedLines(const pkgutil::VerificationResult& result) {
  // Package and Status lines, the time stamp's and the detail's; then a
  // heading, five lines per certificate and a separator between each two.
  const size_t certificates = result.chain.size();
  return 2 + (result.trustedTimestamp ? 1 : 0) + (result.detail.empty() ? 0 : 1) +
         (certificates == 0 ? 0 : 1 + 5 * certificates + (certificates - 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const pkgutil::SignatureVerifier verifier(kNoTrustAnchors, kNow);
  const pkgutil::VerificationResult result =
      verifier.VerifyBytes(std::string(reinterpret_cast<const char*>(data), size));
  if (result.verdict == pkgutil::Verdict::kValid) abort();
  const std::string report =
      pkgutil::FormatSignatureReport("fuzz.pkg", result) + pkgutil::FormatFailureDetail(result);
  size_t lines = 0;
  for (char c : report) lines += c == '\n';
  if (lines != ExpectedLines(result)) abort();
  return 0;
}
