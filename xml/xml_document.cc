#include "xml/xml_document.h"

#include "platform/mac_utils.h"
#include "xml/xml_exception.h"
#include "xml/xml_file_io.h"
#include "xml/xml_impl.h"
#include "xml/xml_loader.h"
#include "xml/xml_tree_clearer.h"
#include "xml/xml_writer.h"

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
  MacUtils::ConvertibleText(text);
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
  std::string bytes;
  if (!XmlWriter::Serialise(*impl_->root, &bytes)) return false;
  return XmlFileIo::WriteWholeFile(path, bytes, overwrite);
}
