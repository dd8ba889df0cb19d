// Builds flat installer packages (XAR archives) for tests: the header, the
// zlib-compressed TOC, and a heap holding the TOC checksum, the RSA signature
// over it, the CMS signature over it with a time-stamp token as the
// platform's signing tool makes them, and one file's data. Options make it
// unsigned or RSA-only as older tools write them, pick the checksum kind, or
// spoil it after signing.
//
//   FlatPackageOptions recipe;
//   recipe.signingKey = chain.signer.key;
//   recipe.signingCertificate = chain.signer.certificate;
//   recipe.certificates = chain.Der();
//   recipe.timestampAuthority = authority.authority;
//   std::string package = WriteFlatPackage(recipe);
//
// Written independently of the checker on purpose: the two must agree on the
// format, not share a mistake.
#ifndef SKIFF_TOOLS_MAKE_TEST_PACKAGE_FLAT_PACKAGE_WRITER_H_
#define SKIFF_TOOLS_MAKE_TEST_PACKAGE_FLAT_PACKAGE_WRITER_H_

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/make_test_package/test_certificates.h"

// Byte offsets of the header fields (all big-endian), for tests that corrupt
// them.
struct FlatPackageLayout {
  static constexpr size_t kHeaderSize = 4;              // uint16
  static constexpr size_t kVersion = 6;                 // uint16
  static constexpr size_t kCompressedTocLength = 8;     // uint64
  static constexpr size_t kUncompressedTocLength = 16;  // uint64
  static constexpr size_t kChecksumAlgorithm = 24;      // uint32
  static constexpr size_t kChecksumName = 28;           // algorithm 3 only
};

enum class PackageChecksum { kSha1, kSha256, kSha512 };

struct FlatPackageOptions {
  // kSha1 is header algorithm 1; the others are algorithm 3 with a name.
  PackageChecksum checksum = PackageChecksum::kSha1;
  // The name written after the header for algorithm 3; default "sha256" or
  // "sha512".
  std::string headerChecksumName;

  // Without a key the TOC has no <signature> element.
  std::shared_ptr<EVP_PKEY> signingKey;
  std::vector<std::string> certificates;  // DER, signing certificate first

  // With the signing key's certificate the TOC also has an <x-signature>:
  // CMS over the checksum, whose signer info carries a time-stamp token for
  // `timestampTime` (default: now) when an authority is given.
  std::shared_ptr<X509> signingCertificate;
  TestCertificate timestampAuthority;
  std::optional<std::time_t> timestampTime;

  std::string payload = "<installer-script/>";

  // Spoiling a signed package: ship a TOC other than the one the checksum and
  // signature were made for; flip a bit of the stored checksum; flip a bit
  // of the signature.
  bool tamperToc = false;
  bool tamperChecksum = false;
  bool tamperSignature = false;
  // The CMS signature made over another checksum; the time stamp made for
  // other bytes than the CMS signature value.
  bool cmsOverOtherChecksum = false;
  bool tamperTimestampImprint = false;

  // What the TOC says, instead of the truth.
  std::optional<uint64_t> checksumOffset;
  std::optional<uint64_t> checksumSize;
  std::optional<uint64_t> signatureOffset;
  std::optional<uint64_t> signatureSize;
  std::optional<uint64_t> cmsSignatureSize;
};

// Throws std::runtime_error when zlib or OpenSSL fail.
std::string WriteFlatPackage(const FlatPackageOptions& recipe);

// The zlib stream the TOC is stored as.
std::string CompressToc(const std::string& xml);

void PutBigEndian(std::string* bytes, size_t offset, uint64_t value, size_t width);
uint64_t GetBigEndian(const std::string& bytes, size_t offset, size_t width);

#endif  // SKIFF_TOOLS_MAKE_TEST_PACKAGE_FLAT_PACKAGE_WRITER_H_
