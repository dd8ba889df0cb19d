// Misuse of an XML tree.
#ifndef SKIFF_XML_XML_EXCEPTION_H_
#define SKIFF_XML_XML_EXCEPTION_H_

#include <stdexcept>
#include <string>

class XmlException : public std::runtime_error {
 public:
  explicit XmlException(const std::string& message) : std::runtime_error(message) {}
};

#endif  // SKIFF_XML_XML_EXCEPTION_H_
