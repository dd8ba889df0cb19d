// The CMS signature a flat package carries beside its RSA signature, in the
// TOC's <x-signature style="CMS"> element: detached SignedData over the same
// checksum bytes, whose signer info may hold an RFC 3161 time-stamp token as
// an unsigned attribute. A token from a trusted time-stamp authority tells
// when the package was signed, so the chain can be checked at that time.
#ifndef SKIFF_TOOLS_PKGUTIL_CMS_SIGNATURE_H_
#define SKIFF_TOOLS_PKGUTIL_CMS_SIGNATURE_H_

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "tools/pkgutil/trust_store.h"

namespace pkgutil {

struct CmsVerification {
  // The signature verifies over the checksum and was made by the signing
  // certificate; else `error` says why not.
  bool valid = false;
  std::string error;
  // The time a trusted time-stamp token vouches for; when a token is there
  // but cannot be trusted, `timestampIgnored` says why.
  std::optional<std::time_t> trustedTimestamp;
  std::string timestampIgnored;
};

// `der` the SignedData as stored; `checksum` the stored TOC checksum;
// `chain` the package's certificates, the signing certificate first. The
// time-stamp authority's chain must end in one of `anchors` at `now`.
CmsVerification VerifyCmsSignature(const std::string& der, const std::string& checksum,
                                   const std::vector<X509Ptr>& chain,
                                   const std::vector<X509Ptr>& anchors, std::time_t now);

}  // namespace pkgutil

#endif  // SKIFF_TOOLS_PKGUTIL_CMS_SIGNATURE_H_
