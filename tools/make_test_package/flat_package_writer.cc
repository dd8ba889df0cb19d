#include "tools/make_test_package/flat_package_writer.h"

#include <openssl/cms.h>
#include <openssl/rsa.h>
#include <openssl/ts.h>
#include <zlib.h>

#include <stdexcept>

namespace {

template <auto Release>
struct Free {
  template <typename T>
  void operator()(T* object) const {
    Release(object);
  }
};
template <typename T, auto Release>
using Owned = std::unique_ptr<T, Free<Release>>;

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("OpenSSL failed: ") + what);
}

struct Checksum {
  const EVP_MD* digest;
  const char* name;
  uint32_t headerAlgorithm;
};

Checksum ChecksumFor(PackageChecksum checksum) {
  switch (checksum) {
    case PackageChecksum::kSha256:
      return {EVP_sha256(), "sha256", 3};
    case PackageChecksum::kSha512:
      return {EVP_sha512(), "sha512", 3};
    case PackageChecksum::kSha1:
      break;
  }
  return {EVP_sha1(), "sha1", 1};
}

std::string Base64(const std::string& der) {
  std::string out(4 * ((der.size() + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                                     reinterpret_cast<const unsigned char*>(der.data()),
                                     static_cast<int>(der.size()));
  out.resize(static_cast<size_t>(length));
  // Wrapped as writers do, to exercise the reader's handling of line breaks.
  std::string wrapped;
  for (size_t i = 0; i < out.size(); i += 64) wrapped += out.substr(i, 64) + "\n";
  return wrapped;
}

std::string Element(const std::string& name, uint64_t offset, uint64_t size,
                    const std::string& style, const std::string& inner) {
  return "<" + name + " style=\"" + style + "\"><offset>" + std::to_string(offset) +
         "</offset><size>" + std::to_string(size) + "</size>" + inner + "</" + name + ">";
}

std::string Digest(const EVP_MD* digest, const std::string& bytes) {
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), value, &length, digest, nullptr) != 1)
    throw std::runtime_error("EVP_Digest failed");
  return std::string(reinterpret_cast<char*>(value), length);
}

std::string Sign(EVP_PKEY* key, const EVP_MD* digest, const std::string& checksum) {
  std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
      EVP_PKEY_CTX_new(key, nullptr), &EVP_PKEY_CTX_free);
  size_t length = 0;
  if (!context || EVP_PKEY_sign_init(context.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_CTX_set_signature_md(context.get(), digest) != 1 ||
      EVP_PKEY_sign(context.get(), nullptr, &length,
                    reinterpret_cast<const unsigned char*>(checksum.data()), checksum.size()) != 1)
    throw std::runtime_error("EVP_PKEY_sign setup failed");
  std::string signature(length, '\0');
  if (EVP_PKEY_sign(context.get(), reinterpret_cast<unsigned char*>(&signature[0]), &length,
                    reinterpret_cast<const unsigned char*>(checksum.data()), checksum.size()) != 1)
    throw std::runtime_error("EVP_PKEY_sign failed");
  signature.resize(length);
  return signature;
}

int StampTime(TS_RESP_CTX*, void* when, long* seconds, long* microseconds) {
  *seconds = static_cast<long>(*static_cast<const std::time_t*>(when));
  *microseconds = 0;
  return 1;
}

// An RFC 3161 token from `authority` over the SHA-256 of `stamped`, for `when`.
std::string TimestampToken(const TestCertificate& authority, std::time_t when,
                           const std::string& stamped) {
  const std::string digest = Digest(EVP_sha256(), stamped);
  Owned<TS_REQ, TS_REQ_free> request(TS_REQ_new());
  Owned<TS_MSG_IMPRINT, TS_MSG_IMPRINT_free> imprint(TS_MSG_IMPRINT_new());
  Owned<X509_ALGOR, X509_ALGOR_free> algorithm(X509_ALGOR_new());
  Owned<BIO, BIO_free> requestDer(BIO_new(BIO_s_mem()));
  Check(request && imprint && algorithm && requestDer &&
            X509_ALGOR_set0(algorithm.get(), OBJ_nid2obj(NID_sha256), V_ASN1_NULL, nullptr) == 1 &&
            TS_MSG_IMPRINT_set_algo(imprint.get(), algorithm.get()) == 1 &&
            TS_MSG_IMPRINT_set_msg(
                imprint.get(), reinterpret_cast<unsigned char*>(const_cast<char*>(digest.data())),
                static_cast<int>(digest.size())) == 1 &&
            TS_REQ_set_version(request.get(), 1) == 1 &&
            TS_REQ_set_msg_imprint(request.get(), imprint.get()) == 1 &&
            TS_REQ_set_cert_req(request.get(), 1) == 1 &&
            i2d_TS_REQ_bio(requestDer.get(), request.get()) == 1,
        "time-stamp request");

  Owned<TS_RESP_CTX, TS_RESP_CTX_free> context(TS_RESP_CTX_new());
  Owned<ASN1_OBJECT, ASN1_OBJECT_free> policy(OBJ_txt2obj("1.3.6.1.4.1.59999.1", 1));
  Check(context && policy &&
            TS_RESP_CTX_set_signer_cert(context.get(), authority.certificate.get()) == 1 &&
            TS_RESP_CTX_set_signer_key(context.get(), authority.key.get()) == 1 &&
            TS_RESP_CTX_set_signer_digest(context.get(), EVP_sha256()) == 1 &&
            TS_RESP_CTX_set_def_policy(context.get(), policy.get()) == 1 &&
            TS_RESP_CTX_add_md(context.get(), EVP_sha256()) == 1,
        "time-stamp authority");
  TS_RESP_CTX_set_time_cb(context.get(), StampTime, &when);
  Owned<TS_RESP, TS_RESP_free> response(TS_RESP_create_response(context.get(), requestDer.get()));
  Check(response && ASN1_INTEGER_get(TS_STATUS_INFO_get0_status(
                        TS_RESP_get_status_info(response.get()))) == TS_STATUS_GRANTED,
        "TS_RESP_create_response");
  unsigned char* der = nullptr;
  const int length = i2d_PKCS7(TS_RESP_get_token(response.get()), &der);
  Check(length > 0, "i2d_PKCS7");
  std::string token(reinterpret_cast<char*>(der), static_cast<size_t>(length));
  OPENSSL_free(der);
  return token;
}

// Detached CMS SignedData over `checksum`, its signer info carrying a
// time-stamp token over its signature value when the recipe has an authority.
std::string CmsSignature(const FlatPackageOptions& recipe, const std::string& checksum) {
  Owned<BIO, BIO_free> content(BIO_new_mem_buf(checksum.data(), static_cast<int>(checksum.size())));
  Check(content != nullptr, "BIO_new_mem_buf");
  Owned<CMS_ContentInfo, CMS_ContentInfo_free> cms(
      CMS_sign(recipe.signingCertificate.get(), recipe.signingKey.get(), nullptr, content.get(),
               CMS_DETACHED | CMS_BINARY | CMS_NOSMIMECAP));
  Check(cms != nullptr, "CMS_sign");
  if (recipe.timestampAuthority.certificate) {
    CMS_SignerInfo* signer = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms.get()), 0);
    const ASN1_OCTET_STRING* value = CMS_SignerInfo_get0_signature(signer);
    std::string stamped(reinterpret_cast<const char*>(value->data),
                        static_cast<size_t>(value->length));
    if (recipe.tamperTimestampImprint) stamped[0] = static_cast<char>(stamped[0] ^ 0x01);
    const std::string token = TimestampToken(
        recipe.timestampAuthority, recipe.timestampTime.value_or(std::time(nullptr)), stamped);
    Check(CMS_unsigned_add1_attr_by_NID(signer, NID_id_smime_aa_timeStampToken, V_ASN1_SEQUENCE,
                                        token.data(), static_cast<int>(token.size())) == 1,
          "CMS_unsigned_add1_attr_by_NID");
  }
  unsigned char* der = nullptr;
  const int length = i2d_CMS_ContentInfo(cms.get(), &der);
  Check(length > 0, "i2d_CMS_ContentInfo");
  std::string signature(reinterpret_cast<char*>(der), static_cast<size_t>(length));
  OPENSSL_free(der);
  return signature;
}

struct HeapLengths {
  size_t checksum;
  size_t signature;
  size_t cms;
};

std::string Toc(const FlatPackageOptions& recipe, const Checksum& checksum,
                const HeapLengths& lengths, const std::string& fileName) {
  const uint64_t payloadOffset = lengths.checksum + lengths.signature + lengths.cms;
  std::string toc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xar>\n <toc>\n  ";
  toc += "<creation-time>2024-03-01T10:00:00</creation-time>\n  ";
  toc += Element("checksum", recipe.checksumOffset.value_or(0),
                 recipe.checksumSize.value_or(lengths.checksum), checksum.name, "");
  if (recipe.signingKey) {
    std::string keyInfo = "<KeyInfo xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><X509Data>";
    for (const std::string& der : recipe.certificates)
      keyInfo += "<X509Certificate>" + Base64(der) + "</X509Certificate>";
    keyInfo += "</X509Data></KeyInfo>";
    toc += "\n  " + Element("signature", recipe.signatureOffset.value_or(lengths.checksum),
                            recipe.signatureSize.value_or(lengths.signature), "RSA", keyInfo);
    if (lengths.cms != 0)
      toc += "\n  " + Element("x-signature", lengths.checksum + lengths.signature,
                              recipe.cmsSignatureSize.value_or(lengths.cms), "CMS", keyInfo);
  }
  toc += "\n  <file id=\"1\"><name>" + fileName + "</name><type>file</type><data><offset>" +
         std::to_string(payloadOffset) + "</offset><length>" +
         std::to_string(recipe.payload.size()) + "</length><size>" +
         std::to_string(recipe.payload.size()) + "</size></data></file>\n </toc>\n</xar>\n";
  return toc;
}

}  // namespace

std::string CompressToc(const std::string& xml) {
  uLongf length = compressBound(static_cast<uLong>(xml.size()));
  std::string out(length, '\0');
  if (compress2(reinterpret_cast<Bytef*>(&out[0]), &length,
                reinterpret_cast<const Bytef*>(xml.data()), static_cast<uLong>(xml.size()),
                Z_BEST_COMPRESSION) != Z_OK)
    throw std::runtime_error("compress2 failed");
  out.resize(length);
  return out;
}

void PutBigEndian(std::string* bytes, size_t offset, uint64_t value, size_t width) {
  if (offset + width > bytes->size()) bytes->resize(offset + width, '\0');
  for (size_t i = 0; i < width; ++i)
    (*bytes)[offset + i] = static_cast<char>((value >> (8 * (width - 1 - i))) & 0xFF);
}

uint64_t GetBigEndian(const std::string& bytes, size_t offset, size_t width) {
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i)
    value = (value << 8) | static_cast<unsigned char>(bytes.at(offset + i));
  return value;
}

std::string WriteFlatPackage(const FlatPackageOptions& recipe) {
  const Checksum checksum = ChecksumFor(recipe.checksum);
  HeapLengths lengths{static_cast<size_t>(EVP_MD_get_size(checksum.digest)), 0, 0};
  const bool withCms = recipe.signingKey && recipe.signingCertificate;
  if (recipe.signingKey)
    lengths.signature = static_cast<size_t>(EVP_PKEY_get_size(recipe.signingKey.get()));
  // The TOC states the CMS signature's size before the checksum it signs is
  // known; the size does not depend on the checksum's value.
  if (withCms) lengths.cms = CmsSignature(recipe, std::string(lengths.checksum, '\0')).size();

  const std::string xml = Toc(recipe, checksum, lengths, "Distribution");
  const std::string compressed = CompressToc(xml);
  std::string stored = Digest(checksum.digest, compressed);
  std::string signature =
      recipe.signingKey ? Sign(recipe.signingKey.get(), checksum.digest, stored) : std::string();
  std::string cms;
  if (withCms) {
    std::string covered = stored;
    if (recipe.cmsOverOtherChecksum) covered[0] = static_cast<char>(covered[0] ^ 0x01);
    cms = CmsSignature(recipe, covered);
    if (cms.size() != lengths.cms) throw std::runtime_error("the CMS signature changed its size");
  }

  std::string shippedXml = xml;
  std::string shipped = compressed;
  if (recipe.tamperToc) {
    shippedXml = Toc(recipe, checksum, lengths, "Distributiom");
    shipped = CompressToc(shippedXml);
  }
  if (recipe.tamperChecksum) stored[0] = static_cast<char>(stored[0] ^ 0x01);
  if (recipe.tamperSignature && !signature.empty())
    signature[signature.size() / 2] = static_cast<char>(signature[signature.size() / 2] ^ 0x01);

  std::string header;
  PutBigEndian(&header, 0, 0x78617221, 4);
  PutBigEndian(&header, FlatPackageLayout::kVersion, 1, 2);
  PutBigEndian(&header, FlatPackageLayout::kCompressedTocLength, shipped.size(), 8);
  PutBigEndian(&header, FlatPackageLayout::kUncompressedTocLength, shippedXml.size(), 8);
  PutBigEndian(&header, FlatPackageLayout::kChecksumAlgorithm, checksum.headerAlgorithm, 4);
  if (checksum.headerAlgorithm == 3) {
    header += recipe.headerChecksumName.empty() ? checksum.name : recipe.headerChecksumName;
    // NUL-terminated and padded to a multiple of four.
    do {
      header += '\0';
    } while (header.size() % 4 != 0);
  }
  PutBigEndian(&header, FlatPackageLayout::kHeaderSize, header.size(), 2);

  return header + shipped + stored + signature + cms + recipe.payload;
}
