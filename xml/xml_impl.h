// The private data behind XmlDocument and XmlNode handles.
//
// Ownership: an element is shared by every handle to it, by its parent's
// children list and by each child's parent link. The parent links make every
// tree a cycle that never frees itself, so a tree is taken apart explicitly
// (XmlTreeClearer) in two situations:
//  - the document's data goes: the whole tree from the root;
//  - a handle to an element that stands in no tree is released and nothing
//    but its children's parent links refers to the element any more: that
//    element's subtree.
// Clearing empties every element and drops the links in both directions, so
// elements still held by handles survive as empty, detached elements and the
// rest is freed one at a time, never through a chain of destructors.
//
// An element's strings and containers take their memory from the resource it
// was made with: the heap for elements made by hand, the load's arena for
// loaded ones (xml_load_arena.h).
#ifndef SKIFF_XML_XML_IMPL_H_
#define SKIFF_XML_XML_IMPL_H_

#include <boost/shared_ptr.hpp>
#include <list>
#include <map>
#include <memory_resource>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xml_document.h"
#include "xml/xml_node.h"

// Names in ascending byte order, looked up by any string without a copy.
struct XmlNameOrder {
  using is_transparent = void;
  bool operator()(std::string_view left, std::string_view right) const { return left < right; }
};

struct XmlNode::XmlNodeImpl {
  explicit XmlNodeImpl(std::pmr::memory_resource* memory = std::pmr::get_default_resource())
      : name(memory), text(memory), attributes(memory), children(memory) {}

  std::pmr::string name;
  std::pmr::vector<char> text;
  std::pmr::map<std::pmr::string, std::pmr::string, XmlNameOrder> attributes;
  std::pmr::list<boost::shared_ptr<XmlNodeImpl>> children;
  boost::shared_ptr<XmlNodeImpl> parent;
};

struct XmlDocument::XmlDocumentImpl {
  ~XmlDocumentImpl();

  boost::shared_ptr<XmlNode::XmlNodeImpl> root;
};

#endif  // SKIFF_XML_XML_IMPL_H_
