#include "tests/support/flat_package_writer.h"

#include <openssl/rsa.h>
#include <zlib.h>

#include <stdexcept>

namespace {

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

std::string Toc(const FlatPackageOptions& recipe, const Checksum& checksum, size_t checksumLength,
                size_t signatureLength, const std::string& fileName) {
  const uint64_t payloadOffset = checksumLength + signatureLength;
  std::string toc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xar>\n <toc>\n  ";
  toc += "<creation-time>2024-03-01T10:00:00</creation-time>\n  ";
  toc += Element("checksum", recipe.checksumOffset.value_or(0),
                 recipe.checksumSize.value_or(checksumLength), checksum.name, "");
  if (recipe.signingKey) {
    std::string keyInfo = "<KeyInfo xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><X509Data>";
    for (const std::string& der : recipe.certificates)
      keyInfo += "<X509Certificate>" + Base64(der) + "</X509Certificate>";
    keyInfo += "</X509Data></KeyInfo>";
    toc += "\n  " + Element("signature", recipe.signatureOffset.value_or(checksumLength),
                            recipe.signatureSize.value_or(signatureLength), "RSA", keyInfo);
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
  const size_t checksumLength = static_cast<size_t>(EVP_MD_get_size(checksum.digest));
  const size_t signatureLength =
      recipe.signingKey ? static_cast<size_t>(EVP_PKEY_get_size(recipe.signingKey.get())) : 0;

  const std::string xml = Toc(recipe, checksum, checksumLength, signatureLength, "Distribution");
  const std::string compressed = CompressToc(xml);
  std::string stored = Digest(checksum.digest, compressed);
  std::string signature =
      recipe.signingKey ? Sign(recipe.signingKey.get(), checksum.digest, stored) : std::string();

  std::string shippedXml = xml;
  std::string shipped = compressed;
  if (recipe.tamperToc) {
    shippedXml = Toc(recipe, checksum, checksumLength, signatureLength, "Distributiom");
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

  return header + shipped + stored + signature + recipe.payload;
}
