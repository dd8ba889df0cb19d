#include "tools/pkgutil/signature_verifier.h"

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <limits>

#include "tools/pkgutil/cms_signature.h"
#include "tools/pkgutil/openssl_owned.h"
#include "tools/pkgutil/package_signature.h"

namespace pkgutil {

namespace {

VerificationResult Result(Verdict verdict, std::string detail) {
  VerificationResult result;
  result.verdict = verdict;
  result.detail = std::move(detail);
  return result;
}

const EVP_MD* DigestFor(ChecksumAlgorithm algorithm) {
  switch (algorithm) {
    case ChecksumAlgorithm::kSha1:
      return EVP_sha1();
    case ChecksumAlgorithm::kSha256:
      return EVP_sha256();
    case ChecksumAlgorithm::kSha512:
      return EVP_sha512();
    case ChecksumAlgorithm::kNone:
      break;
  }
  return nullptr;
}

std::string CommonName(const X509* certificate) {
  const X509_NAME* subject = X509_get_subject_name(certificate);
  const int index = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
  if (index < 0) return "(no common name)";
  const ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index));
  unsigned char* utf8 = nullptr;
  const int length = ASN1_STRING_to_UTF8(&utf8, value);
  if (length < 0) return "(unreadable common name)";
  std::string name(reinterpret_cast<char*>(utf8), static_cast<size_t>(length));
  OPENSSL_free(utf8);
  return name;
}

std::string FormatTime(const ASN1_TIME* time) {
  struct tm parts;
  std::memset(&parts, 0, sizeof parts);
  if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return "(unreadable time)";
  return FormatUtc(parts);
}

std::string FormatTime(std::time_t time) {
  struct tm parts;
  std::memset(&parts, 0, sizeof parts);
  if (gmtime_r(&time, &parts) == nullptr) return "(unreadable time)";
  return FormatUtc(parts);
}

CertificateSummary Summarize(X509* certificate) {
  CertificateSummary summary;
  summary.commonName = CommonName(certificate);
  summary.expires = FormatTime(X509_get0_notAfter(certificate));
  unsigned int length = 0;
  if (X509_digest(certificate, EVP_sha256(), summary.sha256Fingerprint.data(), &length) != 1)
    summary.sha256Fingerprint.fill(0);
  return summary;
}

std::string Describe(size_t position, const X509* certificate) {
  return "certificate " + std::to_string(position) + " (\"" + CommonName(certificate) + "\")";
}

bool ComputeDigest(const EVP_MD* digest, const std::string& bytes, std::string* out) {
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), value, &length, digest, nullptr) != 1) return false;
  out->assign(reinterpret_cast<char*>(value), length);
  return true;
}

// PKCS#1 v1.5 over the DigestInfo of `checksum`: the checksum is the hash.
bool SignatureMatches(EVP_PKEY* key, const EVP_MD* digest, const std::string& checksum,
                      const std::string& signature) {
  Owned<EVP_PKEY_CTX> context(EVP_PKEY_CTX_new(key, nullptr));
  return context && EVP_PKEY_verify_init(context.get()) == 1 &&
         EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) == 1 &&
         EVP_PKEY_CTX_set_signature_md(context.get(), digest) == 1 &&
         EVP_PKEY_verify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                         signature.size(), reinterpret_cast<const unsigned char*>(checksum.data()),
                         checksum.size()) == 1;
}

VerificationResult CheckTrust(const std::vector<X509Ptr>& certificates,
                              const std::vector<X509Ptr>& anchors, const std::string& folder,
                              std::time_t now) {
  Owned<X509_STORE> store(X509_STORE_new());
  Owned<STACK_OF(X509)> untrusted(sk_X509_new_null());
  Owned<X509_STORE_CTX> context(X509_STORE_CTX_new());
  if (!store || !untrusted || !context)
    return Result(Verdict::kUntrustedChain, "out of memory while building the chain");
  for (const X509Ptr& anchor : anchors) X509_STORE_add_cert(store.get(), anchor.get());
  for (size_t i = 1; i < certificates.size(); ++i)
    sk_X509_push(untrusted.get(), certificates[i].get());
  if (X509_STORE_CTX_init(context.get(), store.get(), certificates[0].get(), untrusted.get()) != 1)
    return Result(Verdict::kUntrustedChain, "the chain cannot be built");
  X509_STORE_CTX_set_time(context.get(), 0, now);

  if (X509_verify_cert(context.get()) == 1) {
    VerificationResult result = Result(Verdict::kValid, "");
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(context.get());
    for (int i = 0; i < sk_X509_num(chain); ++i)
      result.chain.push_back(Summarize(sk_X509_value(chain, i)));
    return result;
  }
  const int error = X509_STORE_CTX_get_error(context.get());
  const size_t position = static_cast<size_t>(X509_STORE_CTX_get_error_depth(context.get())) + 1;
  const X509* current = X509_STORE_CTX_get_current_cert(context.get());
  const std::string which = current ? Describe(position, current) : "a certificate";
  switch (error) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return Result(
          Verdict::kExpired,
          which + " expired on " + FormatTime(current ? X509_get0_notAfter(current) : nullptr));
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return Result(Verdict::kNotYetValid,
                    which + " is valid only from " +
                        FormatTime(current ? X509_get0_notBefore(current) : nullptr));
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
      return Result(Verdict::kUntrustedChain, "the chain does not end in a trust anchor of " +
                                                  folder + " (" +
                                                  X509_verify_cert_error_string(error) + ")");
    default:
      return Result(Verdict::kBrokenChain, which + ": " + X509_verify_cert_error_string(error));
  }
}

VerificationResult VerifyArchive(const XarArchive& archive, const TrustStore& trustStore,
                                 std::time_t now) {
  std::string error;
  PackageSignature signature;
  if (!ReadPackageSignature(archive.toc(), &signature, &error))
    return Result(Verdict::kMalformed, error);
  if (!signature.hasSignature) return Result(Verdict::kNoSignature, "");

  // The checksum is what the signature covers, so it must be there and be of
  // the one kind the header names.
  const ChecksumAlgorithm algorithm = archive.header().checksum;
  if (algorithm == ChecksumAlgorithm::kNone)
    return Result(Verdict::kMalformed, "the package is signed but its header names no checksum");
  if (!signature.hasChecksum) return Result(Verdict::kMalformed, "the TOC has no checksum");
  ChecksumAlgorithm styled;
  if (!ChecksumAlgorithmFromName(signature.checksumStyle, &styled) || styled != algorithm)
    return Result(Verdict::kMalformed, "the TOC checksum style \"" + signature.checksumStyle +
                                           "\" does not match the header's " +
                                           ChecksumAlgorithmName(algorithm));
  if (signature.checksum.size != ChecksumLength(algorithm))
    return Result(Verdict::kMalformed,
                  "the TOC checksum size " + std::to_string(signature.checksum.size) +
                      " is not that of a " + ChecksumAlgorithmName(algorithm) + " digest (" +
                      std::to_string(ChecksumLength(algorithm)) + ")");
  std::string stored;
  if (!archive.ReadHeap(signature.checksum.offset, signature.checksum.size, &stored, &error))
    return Result(Verdict::kMalformed, "checksum: " + error);
  if (signature.signatureStyle != "RSA")
    return Result(Verdict::kBadSignature,
                  "the signature style \"" + signature.signatureStyle + "\" is not RSA");
  if (signature.signature.size == 0)
    return Result(Verdict::kMalformed, "the TOC signature size is 0");
  std::string signatureBytes;
  if (!archive.ReadHeap(signature.signature.offset, signature.signature.size, &signatureBytes,
                        &error))
    return Result(Verdict::kMalformed, "signature: " + error);
  std::string cmsBytes;
  if (signature.hasCmsSignature) {
    if (signature.cmsSignature.size == 0)
      return Result(Verdict::kMalformed, "the TOC x-signature size is 0");
    if (!archive.ReadHeap(signature.cmsSignature.offset, signature.cmsSignature.size, &cmsBytes,
                          &error))
      return Result(Verdict::kMalformed, "x-signature: " + error);
  }

  const EVP_MD* digest = DigestFor(algorithm);
  std::string actual;
  if (!ComputeDigest(digest, archive.compressedToc(), &actual))
    return Result(Verdict::kTocModified, "the TOC digest cannot be computed");
  if (actual != stored)
    return Result(Verdict::kTocModified, std::string("the TOC does not match its stored ") +
                                             ChecksumAlgorithmName(algorithm) + " checksum");

  if (signature.certificates.empty())
    return Result(Verdict::kBrokenChain, "the signature carries no certificate");
  std::vector<X509Ptr> certificates;
  std::vector<CertificateSummary> summaries;
  for (const std::string& der : signature.certificates) {
    const unsigned char* next = reinterpret_cast<const unsigned char*>(der.data());
    const long length = static_cast<long>(der.size());
    X509Ptr certificate(d2i_X509(nullptr, &next, length));
    if (!certificate || next != reinterpret_cast<const unsigned char*>(der.data()) + der.size())
      return Result(Verdict::kBrokenChain,
                    "certificate " + std::to_string(certificates.size() + 1) + " cannot be read");
    summaries.push_back(Summarize(certificate.get()));
    certificates.push_back(std::move(certificate));
  }

  VerificationResult failure;
  failure.chain = summaries;
  EVP_PKEY* signingKey = X509_get0_pubkey(certificates[0].get());
  if (signingKey == nullptr || EVP_PKEY_get_base_id(signingKey) != EVP_PKEY_RSA) {
    failure.verdict = Verdict::kBadSignature;
    failure.detail = "the signing certificate has no RSA key";
    return failure;
  }
  if (!SignatureMatches(signingKey, digest, stored, signatureBytes)) {
    failure.verdict = Verdict::kBadSignature;
    failure.detail = "the signature does not verify with the signing certificate's key";
    return failure;
  }
  for (size_t i = 0; i + 1 < certificates.size(); ++i) {
    X509* subject = certificates[i].get();
    X509* issuer = certificates[i + 1].get();
    EVP_PKEY* issuerKey = X509_get0_pubkey(issuer);
    if (X509_check_issued(issuer, subject) != X509_V_OK || issuerKey == nullptr ||
        X509_verify(subject, issuerKey) != 1) {
      failure.verdict = Verdict::kBrokenChain;
      failure.detail = Describe(i + 1, subject) + " is not issued by " + Describe(i + 2, issuer);
      return failure;
    }
  }

  const std::vector<X509Ptr> anchors = trustStore.LoadAnchors();
  std::optional<std::time_t> stamped;
  std::string ignored;
  if (signature.hasCmsSignature) {
    if (signature.cmsSignatureStyle != "CMS") {
      failure.verdict = Verdict::kBadSignature;
      failure.detail = "the x-signature style \"" + signature.cmsSignatureStyle + "\" is not CMS";
      return failure;
    }
    CmsVerification cms = VerifyCmsSignature(cmsBytes, stored, certificates, anchors, now);
    if (!cms.valid) {
      failure.verdict = Verdict::kBadSignature;
      failure.detail = cms.error;
      return failure;
    }
    stamped = cms.trustedTimestamp;
    ignored = cms.timestampIgnored;
  }

  // A trusted time stamp shows when the package was signed: the chain must
  // have been valid then, not now.
  VerificationResult trust =
      CheckTrust(certificates, anchors, trustStore.folder(), stamped.value_or(now));
  if (trust.verdict != Verdict::kValid) {
    trust.chain = summaries;
    if (stamped) trust.detail += " at the trusted time stamp " + FormatTime(*stamped);
  } else {
    trust.trustedTimestamp = stamped;
  }
  if (!ignored.empty())
    trust.detail +=
        (trust.detail.empty() ? "" : "; ") + std::string("time stamp ignored: ") + ignored;
  return trust;
}

}  // namespace

std::string FormatUtc(const struct tm& parts) {
  char text[64];
  if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &parts) == 0)
    return "(unreadable time)";
  return text;
}

std::string StatusText(const VerificationResult& result) {
  // The platform's phrases; what exactly failed goes to the detail.
  switch (result.verdict) {
    case Verdict::kValid:
      return "signed by a developer certificate issued by Apple for distribution";
    case Verdict::kNoSignature:
      return "no signature";
    case Verdict::kBrokenChain:
    case Verdict::kUntrustedChain:
    case Verdict::kNotYetValid:
      return "signed by untrusted certificate";
    case Verdict::kExpired:
      return "signed by a certificate that has since expired";
    case Verdict::kUnreadable:
    case Verdict::kMalformed:
    case Verdict::kTocModified:
    case Verdict::kBadSignature:
      break;
  }
  return "package is invalid (checksum did not verify)";
}

int ExitStatus(Verdict verdict) {
  switch (verdict) {
    case Verdict::kValid:
      return 0;
    case Verdict::kUnreadable:
    case Verdict::kMalformed:
      return 3;
    default:
      return 1;
  }
}

VerificationResult SignatureVerifier::VerifyFile(const std::string& path) const {
  std::string error;
  std::unique_ptr<FileByteSource> source = FileByteSource::Open(path, &error);
  if (!source) return Result(Verdict::kUnreadable, error);
  return Verify(std::move(source));
}

VerificationResult SignatureVerifier::VerifyBytes(std::string bytes) const {
  return Verify(std::make_unique<MemoryByteSource>(std::move(bytes)));
}

VerificationResult SignatureVerifier::Verify(std::unique_ptr<ByteSource> source) const {
  XarArchive archive(std::move(source));
  std::string error;
  VerificationResult result = archive.Load(&error) ? VerifyArchive(archive, trustStore_, now_)
                                                   : Result(Verdict::kMalformed, error);
  // Nothing of this check may be mistaken for a later failure's cause.
  ERR_clear_error();
  return result;
}

}  // namespace pkgutil
