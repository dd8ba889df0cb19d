// An XML document: a tree of elements with a root, loaded, built and saved.
#ifndef SKIFF_XML_XML_DOCUMENT_H_
#define SKIFF_XML_XML_DOCUMENT_H_

#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>
#include <string>

#include "xml/xml_node.h"

class XmlDocument : private boost::noncopyable {
 public:
  struct XmlDocumentImpl;

  virtual ~XmlDocument();

  // On success `out` receives the document and true is returned; on failure
  // `out` is left as it was. A path or text that is not valid UTF-8 throws
  // std::runtime_error.
  static bool LoadFromFile(const std::string& path, boost::shared_ptr<XmlDocument>& out);
  static bool LoadFromString(const std::string& text, boost::shared_ptr<XmlDocument>& out);
  // Throws XmlException "Invalid root element name" for an empty name.
  static bool Create(const std::string& rootName, boost::shared_ptr<XmlDocument>& out);

  XmlNode GetRootElement() const;

  // Writes the declaration and the tree. With `overwrite` false an existing
  // path is left alone and false returned. The file is replaced whole or not
  // at all.
  bool Save(const std::string& path, bool overwrite) const;

 private:
  // Builds loaded trees in place of Create.
  friend class XmlLoader;

  XmlDocument();
  boost::shared_ptr<XmlDocumentImpl> impl_;
};

#endif  // SKIFF_XML_XML_DOCUMENT_H_
