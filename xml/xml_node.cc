#include "xml/xml_node.h"

#include <algorithm>
#include <string_view>

#include "xml/xml_exception.h"
#include "xml/xml_impl.h"
#include "xml/xml_tree_clearer.h"

XmlNode::XmlNode(XmlDocument* document, const std::string& name)
    : document_(document), data_(new XmlNodeImpl) {
  data_->name.assign(name.data(), name.size());
}

XmlNode::XmlNode(XmlDocument* document, boost::shared_ptr<XmlNodeImpl> data)
    : document_(document), data_(std::move(data)) {}

XmlNode::XmlNode(const XmlNode& other) : document_(other.document_), data_(other.data_) {}

XmlNode& XmlNode::operator=(const XmlNode& other) {
  if (this == &other) return *this;
  // Take the new reference before letting go of the old one: both may be the
  // same element.
  boost::shared_ptr<XmlNodeImpl> incoming = other.data_;
  ReleaseData();
  document_ = other.document_;
  data_ = std::move(incoming);
  return *this;
}

XmlNode::~XmlNode() { ReleaseData(); }

void XmlNode::ReleaseData() {
  // Outside a tree, the only references left besides this one may be the
  // parent links of the element's own children: then nobody can reach the
  // subtree any more and it has to be taken apart or it would leak.
  if (data_ && !data_->parent &&
      data_.use_count() == 1 + static_cast<long>(data_->children.size())) {
    XmlTreeClearer::Clear(data_);
  }
  data_.reset();
}

std::string XmlNode::GetName() const { return std::string(data_->name); }

std::string XmlNode::GetText() const { return std::string(data_->text.begin(), data_->text.end()); }

void XmlNode::SetText(const std::string& text) { data_->text.assign(text.begin(), text.end()); }

std::string XmlNode::GetAttribute(const std::string& name) const {
  const auto it = data_->attributes.find(std::string_view(name));
  return it == data_->attributes.end() ? std::string() : std::string(it->second);
}

void XmlNode::SetAttribute(const std::string& name, const std::string& value) {
  if (name.empty()) return;
  const auto it = data_->attributes.find(std::string_view(name));
  if (it != data_->attributes.end()) {
    it->second.assign(value.data(), value.size());
  } else {
    data_->attributes.emplace(std::string_view(name), std::string_view(value));
  }
}

bool XmlNode::RemoveAttribute(const std::string& name) {
  const auto it = data_->attributes.find(std::string_view(name));
  if (it == data_->attributes.end()) return false;
  data_->attributes.erase(it);
  return true;
}

void XmlNode::GetAttributes(std::map<std::string, std::string>& out) const {
  std::map<std::string, std::string> copy;
  for (const auto& attribute : data_->attributes)
    copy.emplace_hint(copy.end(), std::string(attribute.first), std::string(attribute.second));
  out.swap(copy);
}

std::vector<XmlNode> XmlNode::GetChildren() const {
  std::vector<XmlNode> children;
  children.reserve(data_->children.size());
  for (const boost::shared_ptr<XmlNodeImpl>& child : data_->children)
    children.push_back(XmlNode(document_, child));
  return children;
}

XmlNode XmlNode::AppendChild(const XmlNode& child) {
  if (child.data_->parent) throw XmlException("Attempt to append child node already in DOM");
  data_->children.push_back(child.data_);
  child.data_->parent = data_;
  return XmlNode(child.document_, child.data_);
}

XmlNode XmlNode::RemoveChild(const XmlNode& child) {
  const auto entry = std::find(data_->children.begin(), data_->children.end(), child.data_);
  if (!child.data_->parent) throw XmlException("Attempt to remove child node not in DOM");
  if (child.data_->parent != data_)
    throw XmlException("Attempt to remove child node from non-parent");
  data_->children.erase(entry);
  child.data_->parent.reset();
  return XmlNode(child.document_, child.data_);
}

XmlNode XmlNode::GetParent() const {
  if (!data_->parent) throw XmlException("Attempt to get parent of node without parent");
  return XmlNode(document_, data_->parent);
}
