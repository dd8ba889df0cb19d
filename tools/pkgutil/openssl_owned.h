// Owners for the OpenSSL objects the signature check makes, each freed with
// its own function.
#ifndef SKIFF_TOOLS_PKGUTIL_OPENSSL_OWNED_H_
#define SKIFF_TOOLS_PKGUTIL_OPENSSL_OWNED_H_

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509_vfy.h>

#include <memory>

namespace pkgutil {

struct OpenSslFree {
  void operator()(BIO* p) const { BIO_free(p); }
  void operator()(CMS_ContentInfo* p) const { CMS_ContentInfo_free(p); }
  void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
  void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
  void operator()(PKCS7* p) const { PKCS7_free(p); }
  void operator()(TS_TST_INFO* p) const { TS_TST_INFO_free(p); }
  void operator()(TS_VERIFY_CTX* p) const { TS_VERIFY_CTX_free(p); }
  void operator()(X509_STORE* p) const { X509_STORE_free(p); }
  void operator()(X509_STORE_CTX* p) const { X509_STORE_CTX_free(p); }
  void operator()(STACK_OF(X509) * p) const { sk_X509_free(p); }
};

template <typename T>
using Owned = std::unique_ptr<T, OpenSslFree>;

}  // namespace pkgutil

#endif  // SKIFF_TOOLS_PKGUTIL_OPENSSL_OWNED_H_
