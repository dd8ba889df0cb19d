// Turns an element tree into the bytes of an XML document.
#ifndef SKIFF_XML_XML_WRITER_H_
#define SKIFF_XML_XML_WRITER_H_

#include "xml/xml_impl.h"
#include "xml/xml_output.h"

class XmlWriter {
 public:
  // Writes the declaration and `root` with everything below it into `out`.
  // The result loads again to the same tree. False, with `out` unspecified,
  // when a name is not usable as an XML name or a text or attribute holds a
  // character XML cannot carry. A string that is not valid UTF-8 throws the
  // platform conversion's std::runtime_error.
  static bool Serialise(const XmlNode::XmlNodeImpl& root, XmlOutput* out);
};

#endif  // SKIFF_XML_XML_WRITER_H_
