#include "xml/xml_tree_clearer.h"

#include <vector>

void XmlTreeClearer::Clear(boost::shared_ptr<XmlNode::XmlNodeImpl> top) {
  if (!top) return;
  // Children are moved out of their list before their parent can be freed, so
  // no destructor ever finds a non-empty children list to recurse into.
  std::vector<boost::shared_ptr<XmlNode::XmlNodeImpl>> pending;
  pending.push_back(std::move(top));
  while (!pending.empty()) {
    boost::shared_ptr<XmlNode::XmlNodeImpl> node = std::move(pending.back());
    pending.pop_back();
    std::string().swap(node->name);
    std::vector<char>().swap(node->text);
    node->attributes.clear();
    for (boost::shared_ptr<XmlNode::XmlNodeImpl>& child : node->children)
      pending.push_back(std::move(child));
    node->children.clear();
    node->parent.reset();
  }
}
