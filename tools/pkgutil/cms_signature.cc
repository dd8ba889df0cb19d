#include "tools/pkgutil/cms_signature.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509_vfy.h>

#include <cstring>
#include <limits>
#include <memory>

#include "tools/pkgutil/openssl_owned.h"

namespace pkgutil {

namespace {

// What OpenSSL last complained of, for the detail of a failure.
std::string OpenSslReason() {
  const unsigned long code = ERR_peek_last_error();
  if (code == 0) return "";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return std::string(" (") + text + ")";
}

BIO* MemoryBio(const unsigned char* data, size_t size) {
  if (size > static_cast<size_t>(std::numeric_limits<int>::max())) return nullptr;
  return BIO_new_mem_buf(data, static_cast<int>(size));
}

// The time the signer info's time-stamp token vouches for, when the token
// stamps this signer's signature value and its authority's chain ends in
// one of `anchors` at `now`.
std::optional<std::time_t> TrustedTime(CMS_SignerInfo* signer, const std::vector<X509Ptr>& anchors,
                                       std::time_t now, std::string* ignored) {
  const int index = CMS_unsigned_get_attr_by_NID(signer, NID_id_smime_aa_timeStampToken, -1);
  if (index < 0) return std::nullopt;
  X509_ATTRIBUTE* attribute = CMS_unsigned_get_attr(signer, index);
  ASN1_TYPE* value = attribute ? X509_ATTRIBUTE_get0_type(attribute, 0) : nullptr;
  if (value == nullptr || value->type != V_ASN1_SEQUENCE) {
    *ignored = "the time-stamp token attribute holds no token";
    return std::nullopt;
  }
  const unsigned char* next = value->value.sequence->data;
  Owned<PKCS7> token(d2i_PKCS7(nullptr, &next, value->value.sequence->length));
  if (!token || !PKCS7_type_is_signed(token.get()) || token->d.sign == nullptr) {
    *ignored = "the time-stamp token cannot be read";
    return std::nullopt;
  }
  Owned<TS_TST_INFO> info(PKCS7_to_TS_TST_INFO(token.get()));
  struct tm parts;
  std::memset(&parts, 0, sizeof parts);
  if (!info || ASN1_TIME_to_tm(TS_TST_INFO_get_time(info.get()), &parts) != 1) {
    *ignored = "the time-stamp token holds no readable time";
    return std::nullopt;
  }

  // The context owns what is handed to it and frees it with itself.
  Owned<TS_VERIFY_CTX> context(TS_VERIFY_CTX_new());
  Owned<X509_STORE> store(X509_STORE_new());
  const ASN1_OCTET_STRING* stamped = CMS_SignerInfo_get0_signature(signer);
  Owned<BIO> data(stamped ? MemoryBio(stamped->data, static_cast<size_t>(stamped->length))
                          : nullptr);
  if (!context || !store || !data) {
    *ignored = "out of memory while checking the time-stamp token";
    return std::nullopt;
  }
  for (const X509Ptr& anchor : anchors) X509_STORE_add_cert(store.get(), anchor.get());
  X509_VERIFY_PARAM_set_time(X509_STORE_get0_param(store.get()), now);
  TS_VERIFY_CTX_set_flags(context.get(), TS_VFY_VERSION | TS_VFY_SIGNATURE | TS_VFY_DATA);
  TS_VERIFY_CTX_set_store(context.get(), store.release());
  TS_VERIFY_CTX_set_data(context.get(), data.release());
  // Certificates the token carries may stand between its signer and an anchor.
  if (token->d.sign->cert != nullptr)
    TS_VERIFY_CTX_set_certs(context.get(), X509_chain_up_ref(token->d.sign->cert));
  if (TS_RESP_verify_token(context.get(), token.get()) != 1) {
    *ignored = "the time-stamp token does not verify" + OpenSslReason();
    return std::nullopt;
  }
  return timegm(&parts);
}

}  // namespace

CmsVerification VerifyCmsSignature(const std::string& der, const std::string& checksum,
                                   const std::vector<X509Ptr>& chain,
                                   const std::vector<X509Ptr>& anchors, std::time_t now) {
  CmsVerification result;
  const unsigned char* begin = reinterpret_cast<const unsigned char*>(der.data());
  const unsigned char* next = begin;
  Owned<CMS_ContentInfo> cms(d2i_CMS_ContentInfo(nullptr, &next, static_cast<long>(der.size())));
  if (!cms || next != begin + der.size() ||
      OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed) {
    result.error = "the CMS signature cannot be read";
    return result;
  }
  STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms.get());
  if (sk_CMS_SignerInfo_num(signers) != 1) {
    result.error = "the CMS signature has " + std::to_string(sk_CMS_SignerInfo_num(signers)) +
                   " signers, not one";
    return result;
  }
  Owned<STACK_OF(X509)> certificates(sk_X509_new_null());
  Owned<X509_STORE> unused(X509_STORE_new());
  Owned<BIO> content(
      MemoryBio(reinterpret_cast<const unsigned char*>(checksum.data()), checksum.size()));
  if (!certificates || !unused || !content) {
    result.error = "out of memory while checking the CMS signature";
    return result;
  }
  for (const X509Ptr& certificate : chain) sk_X509_push(certificates.get(), certificate.get());
  // The chain is checked as a whole by the caller, once the time is known.
  if (CMS_verify(cms.get(), certificates.get(), unused.get(), content.get(), nullptr,
                 CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) != 1) {
    result.error = "the CMS signature does not verify over the checksum" + OpenSslReason();
    return result;
  }
  CMS_SignerInfo* signer = sk_CMS_SignerInfo_value(signers, 0);
  if (chain.empty() || CMS_SignerInfo_cert_cmp(signer, chain[0].get()) != 0) {
    result.error = "the CMS signature is not made by the signing certificate";
    return result;
  }
  result.valid = true;
  result.trustedTimestamp = TrustedTime(signer, anchors, now, &result.timestampIgnored);
  return result;
}

}  // namespace pkgutil
