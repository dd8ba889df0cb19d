// Writes the status response to the output document the host named.
#ifndef SKIFF_DOCUMENTS_OUTPUT_XML_WRITER_H_
#define SKIFF_DOCUMENTS_OUTPUT_XML_WRITER_H_

#include "operation/operation_params.h"

class LogSink;

class OutputXmlWriter {
 public:
  explicit OutputXmlWriter(LogSink& log) : log_(log) {}

  // Parses `responseXml` and saves it to `outputXmlPath`, replacing any file
  // there. 0 when written, 38 otherwise; never throws.
  int WriteOutputXml(const OperationParams& params);

 private:
  LogSink& log_;
};

#endif  // SKIFF_DOCUMENTS_OUTPUT_XML_WRITER_H_
