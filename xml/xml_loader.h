// Builds a document from XML bytes with an event parser.
#ifndef SKIFF_XML_XML_LOADER_H_
#define SKIFF_XML_XML_LOADER_H_

#include <boost/shared_ptr.hpp>
#include <cstddef>

#include "xml/xml_document.h"

class XmlLoader {
 public:
  // Deeper documents are refused: nothing that reads them needs more, and the
  // limit keeps every later walk of a loaded tree cheap.
  static constexpr int kMaxDepth = 10000;

  // Parses `size` bytes at `data`. On success `out` receives the document and
  // true is returned; on the first well-formedness error, or when the
  // document nests deeper than kMaxDepth, `out` stays as it was.
  //
  // Character data, CDATA sections and the five predefined entity references
  // make up an element's text. A run of character data ends at markup or at an
  // entity reference; a run of nothing but literal whitespace is dropped. Any
  // other entity reference contributes nothing and is never expanded, and no
  // external entity or DTD is ever read.
  static bool Parse(const char* data, size_t size, boost::shared_ptr<XmlDocument>& out);
};

#endif  // SKIFF_XML_XML_LOADER_H_
