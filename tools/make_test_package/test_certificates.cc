#include "tools/make_test_package/test_certificates.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("OpenSSL failed: ") + what);
}

void AddExtension(X509* certificate, X509V3_CTX* context, int nid, const char* value) {
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, context, nid, value);
  Check(extension != nullptr, "X509V3_EXT_conf_nid");
  const int added = X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
  Check(added == 1, "X509_add_ext");
}

void WritePem(const std::string& folder, const std::string& name, const TestCertificate& root) {
  std::filesystem::create_directories(folder);
  std::ofstream out(folder + "/" + name, std::ios::binary | std::ios::trunc);
  out << root.Pem();
  if (!out.flush()) throw std::runtime_error("cannot write " + folder + "/" + name);
}

}  // namespace

KeyPtr MakeRsaKey(int bits) {
  EVP_PKEY* key = EVP_RSA_gen(static_cast<unsigned int>(bits));
  Check(key != nullptr, "EVP_RSA_gen");
  return KeyPtr(key, EVP_PKEY_free);
}

Validity CurrentValidity(std::time_t now) {
  const std::time_t day = 24 * 60 * 60;
  return {now - day, now + 10 * 365 * day};
}

std::string TestCertificate::Der() const {
  unsigned char* bytes = nullptr;
  const int length = i2d_X509(certificate.get(), &bytes);
  Check(length > 0, "i2d_X509");
  std::string der(reinterpret_cast<char*>(bytes), static_cast<size_t>(length));
  OPENSSL_free(bytes);
  return der;
}

std::string TestCertificate::Pem() const {
  std::unique_ptr<BIO, decltype(&BIO_free)> memory(BIO_new(BIO_s_mem()), &BIO_free);
  Check(memory && PEM_write_bio_X509(memory.get(), certificate.get()) == 1, "PEM_write_bio_X509");
  char* data = nullptr;
  const long length = BIO_get_mem_data(memory.get(), &data);
  return std::string(data, static_cast<size_t>(length));
}

TestCertificate IssueCertificate(const std::string& commonName, const KeyPtr& key,
                                 const TestCertificate* issuer, bool isAuthority,
                                 const Validity& validity, const char* extendedKeyUsage) {
  // Serial numbers only need to differ within a run.
  static std::atomic<long> serial{1};
  CertificatePtr certificate(X509_new(), X509_free);
  Check(certificate != nullptr, "X509_new");
  X509* x = certificate.get();
  Check(X509_set_version(x, 2) == 1, "X509_set_version");
  Check(ASN1_INTEGER_set(X509_get_serialNumber(x), serial++) == 1, "serial");
  Check(ASN1_TIME_set(X509_getm_notBefore(x), validity.notBefore) != nullptr, "notBefore");
  Check(ASN1_TIME_set(X509_getm_notAfter(x), validity.notAfter) != nullptr, "notAfter");
  X509_NAME* subject = X509_get_subject_name(x);
  Check(X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>("Skiff Test PKI"), -1, -1,
                                   0) == 1,
        "O");
  Check(X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(commonName.c_str()), -1,
                                   -1, 0) == 1,
        "CN");
  X509* issuerCertificate = issuer ? issuer->certificate.get() : x;
  Check(X509_set_issuer_name(x, X509_get_subject_name(issuerCertificate)) == 1, "issuer name");
  Check(X509_set_pubkey(x, key.get()) == 1, "X509_set_pubkey");

  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuerCertificate, x, nullptr, nullptr, 0);
  AddExtension(x, &context, NID_basic_constraints,
               isAuthority ? "critical,CA:TRUE" : "critical,CA:FALSE");
  AddExtension(x, &context, NID_key_usage,
               isAuthority ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
  if (extendedKeyUsage != nullptr)
    AddExtension(x, &context, NID_ext_key_usage,
                 (std::string("critical,") + extendedKeyUsage).c_str());
  AddExtension(x, &context, NID_subject_key_identifier, "hash");
  // Names alone would let a second root of the same name pass for the
  // issuer; the key identifier tells them apart, as in real chains.
  AddExtension(x, &context, NID_authority_key_identifier, "keyid:always");

  EVP_PKEY* signingKey = issuer ? issuer->key.get() : key.get();
  Check(X509_sign(x, signingKey, EVP_sha256()) > 0, "X509_sign");
  return {certificate, key};
}

std::vector<std::string> TestChain::Der(bool withRoot) const {
  std::vector<std::string> der = {signer.Der(), intermediate.Der()};
  if (withRoot) der.push_back(root.Der());
  return der;
}

void TestChain::WriteRootPem(const std::string& folder) const {
  WritePem(folder, "test-root.pem", root);
}

void TestTimestampAuthority::WriteRootPem(const std::string& folder) const {
  WritePem(folder, "test-timestamp-root.pem", root);
}

TestKeys::TestKeys()
    : root(MakeRsaKey()),
      intermediate(MakeRsaKey()),
      signer(MakeRsaKey()),
      other(MakeRsaKey()),
      timestamp(MakeRsaKey()) {}

const TestKeys& TestKeys::Shared() {
  static const TestKeys keys;
  return keys;
}

TestChain MakeTestChain(const TestChainOptions& options) {
  const TestKeys& keys = TestKeys::Shared();
  const Validity current = CurrentValidity(options.now);
  TestChain chain;
  chain.root = IssueCertificate(kTestRootName, options.foreignRoot ? keys.other : keys.root,
                                nullptr, true, current);
  chain.intermediate = IssueCertificate(kTestIntermediateName, keys.intermediate, &chain.root, true,
                                        options.intermediateValidity.value_or(current));
  chain.signer = IssueCertificate(options.signerName, keys.signer, &chain.intermediate, false,
                                  options.signerValidity.value_or(current));
  return chain;
}

TestTimestampAuthority MakeTestTimestampAuthority(std::time_t now) {
  const TestKeys& keys = TestKeys::Shared();
  const std::time_t year = 365 * 24 * 60 * 60;
  const Validity validity{now - 5 * year, now + 10 * year};
  TestTimestampAuthority authority;
  authority.root =
      IssueCertificate("Skiff Test Time Stamp Root", keys.other, nullptr, true, validity);
  authority.authority = IssueCertificate("Skiff Test Time Stamp Authority", keys.timestamp,
                                         &authority.root, false, validity, "timeStamping");
  return authority;
}
