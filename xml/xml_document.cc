#include "xml/xml_document.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/mac_utils.h"
#include "platform/utf8_text.h"
#include "xml/xml_exception.h"
#include "xml/xml_file_io.h"
#include "xml/xml_impl.h"
#include "xml/xml_loader.h"
#include "xml/xml_tree_clearer.h"
#include "xml/xml_writer.h"

namespace {

// Whether `text` is valid UTF-8 without a NUL byte, which the platform takes
// whole. Documents are mostly ASCII, passed over eight bytes at a time; a
// false answer only sends the text to the platform's own check.
bool IsWholeUtf8(std::string_view text) {
  constexpr uint64_t kEveryByte = 0x0101010101010101u;
  constexpr uint64_t kHighBits = 0x8080808080808080u;
  size_t at = 0;
  while (at < text.size()) {
    if (text.size() - at >= 8) {
      uint64_t word;
      std::memcpy(&word, text.data() + at, sizeof(word));
      const uint64_t zeroBytes = (word - kEveryByte) & ~word;
      if (((word | zeroBytes) & kHighBits) == 0) {
        at += 8;
        continue;
      }
    }
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (c == 0) return false;
    if (c < 0x80) {
      ++at;
      continue;
    }
    const Utf8Sequence sequence = DecodeUtf8Sequence(text.substr(at));
    if (!sequence.valid) return false;
    at += sequence.length;
  }
  return true;
}

}  // namespace

XmlDocument::XmlDocumentImpl::~XmlDocumentImpl() { XmlTreeClearer::Clear(root); }

XmlDocument::XmlDocument() : impl_(new XmlDocumentImpl) {}

XmlDocument::~XmlDocument() {}

bool XmlDocument::LoadFromFile(const std::string& path, boost::shared_ptr<XmlDocument>& out) {
  // Only tests that the path is convertible, as it must be to make a URL.
  MacUtils::ConvertibleText(path);
  std::string contents;
  if (!XmlFileIo::ReadWholeFile(path, &contents)) return false;
  return XmlLoader::Parse(contents.data(), contents.size(), out);
}

bool XmlDocument::LoadFromString(const std::string& text, boost::shared_ptr<XmlDocument>& out) {
  // The text is validated in place, as the platform would convert it (up to
  // its first NUL); the parser then reads the same bytes where they are.
  if (!IsWholeUtf8(text)) MacUtils::ConvertibleText(text);
  return XmlLoader::Parse(text.data(), text.size(), out);
}

bool XmlDocument::Create(const std::string& rootName, boost::shared_ptr<XmlDocument>& out) {
  if (rootName.empty()) throw XmlException("Invalid root element name");
  boost::shared_ptr<XmlDocument> document(new XmlDocument);
  document->impl_->root.reset(new XmlNode::XmlNodeImpl);
  document->impl_->root->name = rootName;
  out = document;
  return true;
}

XmlNode XmlDocument::GetRootElement() const {
  return XmlNode(const_cast<XmlDocument*>(this), impl_->root);
}

bool XmlDocument::Save(const std::string& path, bool overwrite) const {
  if (!overwrite && XmlFileIo::SomethingExistsAt(path)) return false;
  XmlOutput bytes;
  if (!XmlWriter::Serialise(*impl_->root, &bytes)) return false;
  return XmlFileIo::WriteWholeFile(path, bytes.view(), overwrite);
}
