// A handle to one element of an XmlDocument. Copies share the element.
#ifndef SKIFF_XML_XML_NODE_H_
#define SKIFF_XML_XML_NODE_H_

#include <boost/shared_ptr.hpp>
#include <map>
#include <string>
#include <vector>

class XmlDocument;

class XmlNode {
 public:
  struct XmlNodeImpl;

  // A new element, not yet in any tree.
  XmlNode(XmlDocument* document, const std::string& name);
  XmlNode(XmlDocument* document, boost::shared_ptr<XmlNodeImpl> data);
  XmlNode(const XmlNode& other);
  XmlNode& operator=(const XmlNode& other);
  virtual ~XmlNode();

  std::string GetName() const;
  std::string GetText() const;
  void SetText(const std::string& text);

  // Empty when absent.
  std::string GetAttribute(const std::string& name) const;
  // An empty name is ignored.
  void SetAttribute(const std::string& name, const std::string& value);
  bool RemoveAttribute(const std::string& name);
  void GetAttributes(std::map<std::string, std::string>& out) const;

  std::vector<XmlNode> GetChildren() const;
  // Throws XmlException "Attempt to append child node already in DOM".
  XmlNode AppendChild(const XmlNode& child);
  // Throws XmlException "Attempt to remove child node not in DOM" or
  // "Attempt to remove child node from non-parent".
  XmlNode RemoveChild(const XmlNode& child);
  // Throws XmlException "Attempt to get parent of node without parent".
  XmlNode GetParent() const;

  const boost::shared_ptr<XmlNodeImpl>& data() const { return data_; }

 private:
  // Drops this handle's reference; clears the element's subtree first when
  // nothing else can reach it (see xml_impl.h).
  void ReleaseData();

  XmlDocument* document_;
  boost::shared_ptr<XmlNodeImpl> data_;
};

#endif  // SKIFF_XML_XML_NODE_H_
