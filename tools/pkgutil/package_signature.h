// What a flat package's TOC says about its signature: where the TOC checksum
// and the RSA signature lie in the heap, and the certificate chain.
//
//   <xar><toc>
//     <checksum style="sha1"><offset>0</offset><size>20</size></checksum>
//     <signature style="RSA"><offset>20</offset><size>256</size>
//       <KeyInfo xmlns="http://www.w3.org/2000/09/xmldsig#"><X509Data>
//         <X509Certificate>base64 DER</X509Certificate> ...
//       </X509Data></KeyInfo>
//     </signature>
//     <x-signature style="CMS"><offset>276</offset><size>...</size>
//       <KeyInfo ...> the same chain </KeyInfo>
//     </x-signature> ...
//   </toc></xar>
//
// The x-signature, which newer signing tools add, is CMS SignedData over the
// same checksum bytes (see cms_signature.h).
#ifndef SKIFF_TOOLS_PKGUTIL_PACKAGE_SIGNATURE_H_
#define SKIFF_TOOLS_PKGUTIL_PACKAGE_SIGNATURE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace pkgutil {

struct HeapRange {
  uint64_t offset = 0;
  uint64_t size = 0;
};

struct PackageSignature {
  // More would only serve to make the check slow.
  static constexpr size_t kMaxCertificates = 16;

  bool hasChecksum = false;
  std::string checksumStyle;
  HeapRange checksum;

  bool hasSignature = false;
  std::string signatureStyle;
  HeapRange signature;
  // DER, the signing certificate first, each issued by the next.
  std::vector<std::string> certificates;

  bool hasCmsSignature = false;
  std::string cmsSignatureStyle;
  HeapRange cmsSignature;
};

// Reads the first <checksum>, <signature> and <x-signature> of the TOC. A TOC
// without a signature is fine (hasSignature false); an element
// that lacks its offset or size, holds a number that is not a plain decimal
// or a certificate that is not base64 makes it false with the reason.
bool ReadPackageSignature(const std::string& tocXml, PackageSignature* out, std::string* error);

}  // namespace pkgutil

#endif  // SKIFF_TOOLS_PKGUTIL_PACKAGE_SIGNATURE_H_
