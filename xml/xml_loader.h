// Builds a document from XML bytes with an event parser.
#ifndef SKIFF_XML_XML_LOADER_H_
#define SKIFF_XML_XML_LOADER_H_

#include <boost/shared_ptr.hpp>
#include <cstddef>

#include "xml/xml_document.h"

// How much a loaded document may build. The documents Skiff reads are a few
// kilobytes; the bounds only keep a hostile one from taking all memory.
struct XmlLoadLimits {
  static constexpr size_t kMaxNodes = 1000000;
  static constexpr size_t kMaxContentBytes = 32 * 1024 * 1024;

  // Elements and attributes together.
  size_t maxNodes = kMaxNodes;
  // Bytes of element names, attribute names and values, and text.
  size_t maxContentBytes = kMaxContentBytes;
};

class XmlLoader {
 public:
  // Deeper documents are refused: nothing that reads them needs more, and the
  // limit keeps every later walk of a loaded tree cheap.
  static constexpr int kMaxDepth = 10000;

  // Parses `size` bytes at `data`. On success `out` receives the document and
  // true is returned. On the first well-formedness error, when the document
  // nests deeper than kMaxDepth or would build more than `limits` allow, or
  // when memory runs out, false is returned and `out` stays as it was.
  //
  // Character data, CDATA sections and the five predefined entity references
  // make up an element's text. A run of character data ends at markup or at an
  // entity reference; a run of nothing but literal whitespace is dropped. Any
  // other entity reference contributes nothing and is never expanded, and no
  // external entity or DTD is ever read.
  static bool Parse(const char* data, size_t size, boost::shared_ptr<XmlDocument>& out,
                    const XmlLoadLimits& limits = XmlLoadLimits());
};

#endif  // SKIFF_XML_XML_LOADER_H_
