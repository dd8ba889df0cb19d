#include "tools/pkgutil/package_signature.h"

#include <openssl/evp.h>

#include <boost/shared_ptr.hpp>
#include <limits>
#include <memory>
#include <optional>

#include "xml/xml_document.h"
#include "xml/xml_loader.h"
#include "xml/xml_node.h"

namespace pkgutil {

namespace {

bool Fail(std::string* error, const std::string& reason) {
  *error = reason;
  return false;
}

// The name without a namespace prefix, so "ds:KeyInfo" counts as KeyInfo.
std::string LocalName(const XmlNode& node) {
  const std::string name = node.GetName();
  const std::string::size_type colon = name.rfind(':');
  return colon == std::string::npos ? name : name.substr(colon + 1);
}

std::optional<XmlNode> FirstChild(const XmlNode& parent, const std::string& name) {
  for (const XmlNode& child : parent.GetChildren()) {
    if (LocalName(child) == name) return child;
  }
  return std::nullopt;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool ParseDecimal(const std::string& text, uint64_t* out) {
  std::string::size_type begin = 0;
  std::string::size_type end = text.size();
  while (begin < end && IsSpace(text[begin])) ++begin;
  while (end > begin && IsSpace(text[end - 1])) --end;
  if (begin == end) return false;
  uint64_t value = 0;
  for (std::string::size_type i = begin; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) return false;
    value = value * 10 + digit;
  }
  *out = value;
  return true;
}

bool ReadRange(const XmlNode& element, const std::string& what, HeapRange* out,
               std::string* error) {
  for (const char* field : {"offset", "size"}) {
    std::optional<XmlNode> child = FirstChild(element, field);
    if (!child) return Fail(error, "the TOC " + what + " has no " + field);
    uint64_t* target = std::string(field) == "offset" ? &out->offset : &out->size;
    if (!ParseDecimal(child->GetText(), target))
      return Fail(error, "the TOC " + what + " " + field + " is not a number");
  }
  return true;
}

struct EncodeContextFree {
  void operator()(EVP_ENCODE_CTX* context) const { EVP_ENCODE_CTX_free(context); }
};

// Line breaks and blanks inside the text are skipped, as writers wrap it.
bool DecodeBase64(const std::string& text, std::string* out) {
  std::unique_ptr<EVP_ENCODE_CTX, EncodeContextFree> context(EVP_ENCODE_CTX_new());
  if (!context || text.size() > static_cast<size_t>(std::numeric_limits<int>::max() / 2))
    return false;
  EVP_DecodeInit(context.get());
  std::string decoded(text.size() / 4 * 3 + 3, '\0');
  int length = 0;
  if (EVP_DecodeUpdate(context.get(), reinterpret_cast<unsigned char*>(&decoded[0]), &length,
                       reinterpret_cast<const unsigned char*>(text.data()),
                       static_cast<int>(text.size())) < 0)
    return false;
  int tail = 0;
  if (EVP_DecodeFinal(context.get(), reinterpret_cast<unsigned char*>(&decoded[length]), &tail) < 0)
    return false;
  decoded.resize(static_cast<size_t>(length + tail));
  if (decoded.empty()) return false;
  *out = std::move(decoded);
  return true;
}

bool ReadCertificates(const XmlNode& signature, std::vector<std::string>* out, std::string* error) {
  std::optional<XmlNode> keyInfo = FirstChild(signature, "KeyInfo");
  std::optional<XmlNode> data = keyInfo ? FirstChild(*keyInfo, "X509Data") : std::nullopt;
  if (!data) return true;
  for (const XmlNode& child : data->GetChildren()) {
    if (LocalName(child) != "X509Certificate") continue;
    if (out->size() == PackageSignature::kMaxCertificates)
      return Fail(error, "the TOC signature holds more than " +
                             std::to_string(PackageSignature::kMaxCertificates) + " certificates");
    std::string der;
    if (!DecodeBase64(child.GetText(), &der))
      return Fail(error, "certificate " + std::to_string(out->size() + 1) +
                             " of the TOC signature is not base64");
    out->push_back(std::move(der));
  }
  return true;
}

}  // namespace

bool ReadPackageSignature(const std::string& tocXml, PackageSignature* out, std::string* error) {
  boost::shared_ptr<XmlDocument> document;
  if (!XmlLoader::Parse(tocXml.data(), tocXml.size(), document))
    return Fail(error, "the TOC is not well-formed XML");
  const XmlNode root = document->GetRootElement();
  if (LocalName(root) != "xar") return Fail(error, "the TOC root element is not <xar>");
  std::optional<XmlNode> toc = FirstChild(root, "toc");
  if (!toc) return Fail(error, "the TOC has no <toc> element");

  PackageSignature result;
  if (std::optional<XmlNode> checksum = FirstChild(*toc, "checksum")) {
    result.hasChecksum = true;
    result.checksumStyle = checksum->GetAttribute("style");
    if (!ReadRange(*checksum, "checksum", &result.checksum, error)) return false;
  }
  if (std::optional<XmlNode> signature = FirstChild(*toc, "signature")) {
    result.hasSignature = true;
    result.signatureStyle = signature->GetAttribute("style");
    if (!ReadRange(*signature, "signature", &result.signature, error)) return false;
    if (!ReadCertificates(*signature, &result.certificates, error)) return false;
  }
  if (std::optional<XmlNode> cms = FirstChild(*toc, "x-signature")) {
    result.hasCmsSignature = true;
    result.cmsSignatureStyle = cms->GetAttribute("style");
    if (!ReadRange(*cms, "x-signature", &result.cmsSignature, error)) return false;
  }
  *out = std::move(result);
  return true;
}

}  // namespace pkgutil
