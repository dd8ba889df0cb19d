// Reads the host's input document (and for install and uninstall the proxy
// document it names) into the parameters of the operation.
#ifndef SKIFF_DOCUMENTS_INPUT_XML_PARSER_H_
#define SKIFF_DOCUMENTS_INPUT_XML_PARSER_H_

#include <string>

#include "operation/operation_params.h"
#include "xml/xml_node.h"

class LogSink;

class InputXmlParser {
 public:
  explicit InputXmlParser(LogSink& log) : log_(log) {}

  // Each returns 0 and stores a new parameter object in `params`, or 16 and
  // stores nothing. XML library exceptions pass to the caller.
  int ParseLaunchInput(const std::string& inputPath, OperationParams*& params);
  int ParseAppStatusInput(const std::string& inputPath, const std::string& outputPath,
                          OperationParams*& params);
  int ParseInstallInput(const std::string& inputPath, OperationParams*& params);
  int ParseUninstallInput(const std::string& inputPath, OperationParams*& params);

  int ReadBundleInfoAndWorkflow(const std::string& inputPath, std::string& bundleInfo,
                                std::string& workflow);
  static std::string ReadProxyFilePath(const XmlNode& root);

  // Leave `result` unchanged when nothing matches.
  static void LookupChildByName(const std::string& name, const XmlNode& parent, XmlNode& result);
  static void LookupChildByNameAttribute(const std::string& value, const XmlNode& parent,
                                         XmlNode& result);

  // Makes `path` one literal shell word: a blank becomes backslash-blank, as
  // the log lines show paths, and every other character the shell would
  // interpret is quoted too.
  static std::string EscapeForShell(const std::string& path);

 private:
  LogSink& log_;
};

#endif  // SKIFF_DOCUMENTS_INPUT_XML_PARSER_H_
