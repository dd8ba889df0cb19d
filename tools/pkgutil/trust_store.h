// The certificates this machine trusts as chain anchors: every certificate in
// every "*.pem" file of one folder. The shipped tool reads
// /Library/Skiff/TrustAnchors (see main.cc); the folder is a parameter so
// that tests can bring their own.
#ifndef SKIFF_TOOLS_PKGUTIL_TRUST_STORE_H_
#define SKIFF_TOOLS_PKGUTIL_TRUST_STORE_H_

#include <openssl/x509.h>

#include <memory>
#include <string>
#include <vector>

namespace pkgutil {

struct X509Free {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

class TrustStore {
 public:
  explicit TrustStore(std::string folder) : folder_(std::move(folder)) {}

  // The anchors as the folder holds them now, in file name order. A missing
  // folder, an unreadable file or one without a certificate contributes
  // nothing: the result is then simply a smaller set of anchors.
  std::vector<X509Ptr> LoadAnchors() const;

  const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
};

}  // namespace pkgutil

#endif  // SKIFF_TOOLS_PKGUTIL_TRUST_STORE_H_
