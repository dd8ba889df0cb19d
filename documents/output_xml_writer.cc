#include "documents/output_xml_writer.h"

#include <boost/shared_ptr.hpp>

#include "log/log_sink.h"
#include "operation/result_codes.h"
#include "xml/xml_document.h"

int OutputXmlWriter::WriteOutputXml(const OperationParams& params) {
  log_.Log("In write to output XML");
  try {
    boost::shared_ptr<XmlDocument> document;
    if (XmlDocument::LoadFromString(params.responseXml, document) && document) {
      log_.Log("Loaded from string into xml");
      log_.Log("Output xml str: " + params.responseXml);
      log_.Log("Output xml path: " + params.outputXmlPath);
      if (document->Save(params.outputXmlPath, true)) {
        log_.Log("Saved to xml");
        return kResultSuccess;
      }
    }
  } catch (...) {
    // Falls through to the failure line: the host only learns of it from the
    // exit code.
  }
  log_.Log("Error occurred while writing to XML");
  return kResultFailure;
}
