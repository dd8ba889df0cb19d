// Takes an element tree apart without recursion and without allocating.
#ifndef SKIFF_XML_XML_TREE_CLEARER_H_
#define SKIFF_XML_XML_TREE_CLEARER_H_

#include <boost/shared_ptr.hpp>

#include "xml/xml_impl.h"

class XmlTreeClearer {
 public:
  // Empties `top` and every element below it: name, text and attributes are
  // removed, children lists emptied and parent links dropped. `top` must stand
  // in no children list (a root or a detached element). Null is ignored.
  static void Clear(boost::shared_ptr<XmlNode::XmlNodeImpl> top);
};

#endif  // SKIFF_XML_XML_TREE_CLEARER_H_
