#include "xml/xml_tree_clearer.h"

#include <utility>

void XmlTreeClearer::Clear(boost::shared_ptr<XmlNode::XmlNodeImpl> top) {
  if (!top) return;
  // The walk keeps no container of its own: it goes down through the first
  // child and back up through the parent link, taking each element out of its
  // parent's list once it is empty. Clearing therefore never allocates, so it
  // also works when memory has run out (a failed load frees its half-built
  // tree this way), and no destructor ever finds a children list to recurse
  // into.
  boost::shared_ptr<XmlNode::XmlNodeImpl> node = std::move(top);
  node->parent.reset();
  while (node) {
    if (!node->children.empty()) {
      boost::shared_ptr<XmlNode::XmlNodeImpl> child = node->children.front();
      node = std::move(child);
      continue;
    }
    node->name.clear();
    node->name.shrink_to_fit();
    decltype(node->text)(node->text.get_allocator()).swap(node->text);
    node->attributes.clear();
    boost::shared_ptr<XmlNode::XmlNodeImpl> parent = std::move(node->parent);
    // The element is its parent's first child: that is the way down.
    if (parent) parent->children.pop_front();
    node = std::move(parent);
  }
}
