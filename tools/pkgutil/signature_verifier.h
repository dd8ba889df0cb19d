// Decides whether a flat package carries a valid signature: its TOC matches
// the stored checksum, the RSA signature over that checksum (and the CMS
// signature, when there is one) verifies with the signing certificate, each
// certificate is issued by the next, and the chain ends, valid at the given
// time, in one of the trust store's anchors. A trusted time stamp in the CMS
// signature moves that time to when the package was signed.
#ifndef SKIFF_TOOLS_PKGUTIL_SIGNATURE_VERIFIER_H_
#define SKIFF_TOOLS_PKGUTIL_SIGNATURE_VERIFIER_H_

#include <array>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/pkgutil/trust_store.h"
#include "tools/pkgutil/xar_archive.h"

namespace pkgutil {

// In the order the check reaches them.
enum class Verdict {
  kUnreadable,      // the file cannot be opened or read
  kMalformed,       // not a flat package, truncated, or a field out of bounds
  kNoSignature,     // a well-formed package whose TOC has no signature
  kTocModified,     // the TOC differs from what its checksum says
  kBadSignature,    // the signature does not verify with the signing key
  kBrokenChain,     // a certificate cannot be read or is not issued by the next
  kUntrustedChain,  // the chain does not end in a trust anchor
  kExpired,         // a certificate of the chain has expired
  kNotYetValid,     // a certificate of the chain is not valid yet
  kValid,
};

struct CertificateSummary {
  std::string commonName;
  // "2031-09-17 00:00:00 +0000"
  std::string expires;
  std::array<uint8_t, 32> sha256Fingerprint{};
};

struct VerificationResult {
  Verdict verdict = Verdict::kMalformed;
  // Which field, certificate or check failed; empty when the verdict says all.
  std::string detail;
  // The chain as verified (the anchor included) for a valid package, else the
  // certificates as the package carries them, once they could be read.
  std::vector<CertificateSummary> chain;
  // For a valid package whose chain was checked at the time a trusted
  // time-stamp token vouches for.
  std::optional<std::time_t> trustedTimestamp;
};

// The text after "Status: ", in the platform's words: one phrase per kind of
// outcome, without the detail.
std::string StatusText(const VerificationResult& result);

// "2031-09-17 00:00:00 +0000"
std::string FormatUtc(const struct tm& parts);

// 0 for kValid; 1 for a package that was read but is not validly signed
// (unsigned, modified, bad signature, chain or validity failures); 3 for a
// file that cannot be read as a flat package.
int ExitStatus(Verdict verdict);

class SignatureVerifier {
 public:
  // `now` is the moment every certificate must be valid at, unless a trusted
  // time stamp names another; a time-stamp authority must be valid now.
  SignatureVerifier(std::string trustFolder, std::time_t now)
      : trustStore_(std::move(trustFolder)), now_(now) {}

  VerificationResult VerifyFile(const std::string& path) const;
  VerificationResult VerifyBytes(std::string bytes) const;
  VerificationResult Verify(std::unique_ptr<ByteSource> source) const;

 private:
  TrustStore trustStore_;
  std::time_t now_;
};

}  // namespace pkgutil

#endif  // SKIFF_TOOLS_PKGUTIL_SIGNATURE_VERIFIER_H_
