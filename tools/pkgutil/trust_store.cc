#include "tools/pkgutil/trust_store.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace pkgutil {

namespace {

void ReadPemFile(const std::string& path, std::vector<X509Ptr>* out) {
  std::unique_ptr<BIO, decltype(&BIO_free)> file(BIO_new_file(path.c_str(), "r"), &BIO_free);
  if (!file) return;
  while (X509* certificate = PEM_read_bio_X509(file.get(), nullptr, nullptr, nullptr))
    out->emplace_back(certificate);
  // The loop ends at the first block that is not a certificate, which leaves
  // an error queued; it must not be taken for a later call's failure.
  ERR_clear_error();
}

}  // namespace

std::vector<X509Ptr> TrustStore::LoadAnchors() const {
  namespace fs = std::filesystem;
  std::vector<std::string> paths;
  std::error_code error;
  for (fs::directory_iterator it(folder_, error), end; !error && it != end; it.increment(error)) {
    if (it->path().extension() == ".pem" && it->is_regular_file(error))
      paths.push_back(it->path().string());
  }
  std::sort(paths.begin(), paths.end());
  std::vector<X509Ptr> anchors;
  for (const std::string& path : paths) ReadPemFile(path, &anchors);
  return anchors;
}

}  // namespace pkgutil
