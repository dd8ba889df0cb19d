#include "xml/xml_writer.h"

#include <vector>

#include "platform/mac_utils.h"

namespace {

// The declaration is followed directly by the root: the model adds no
// whitespace of its own anywhere, not even a line break.
const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

// Every string goes through the platform string, as it would on its way to
// the platform's writer: invalid UTF-8 throws and a NUL byte cuts the string.
std::string ThroughPlatformString(const std::string& text) {
  CFStringRef converted = MacUtils::StdStringToCFString(text);
  MacUtils::CFTypeReleaser releaser(converted);
  return MacUtils::CFStringToStdString(converted);
}

// Only the ASCII part of the name rules is checked; other characters are
// taken on trust. `original` is the stored name, `name` what conversion made
// of it: a name cut at a NUL byte could clash with another.
bool IsUsableName(const std::string& original, const std::string& name) {
  if (name.empty() || name.size() != original.size()) return false;
  for (std::string::size_type i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c >= 0x80) continue;
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
    bool other = (c >= '0' && c <= '9') || c == '-' || c == '.';
    if (!letter && !(other && i > 0)) return false;
  }
  return true;
}

// Control characters other than tab, LF and CR, and U+FFFE and U+FFFF, have
// no form in an XML 1.0 document, not even as a character reference.
bool HasOnlyXmlCharacters(const std::string& text) {
  for (std::string::size_type i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
    if (c == 0xEF && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xBF &&
        (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xBE)
      return false;
  }
  return true;
}

bool IsLayoutOnly(const std::string& text) {
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
  }
  return true;
}

// Text is escaped with character references rather than entity references:
// on loading an entity reference ends a run of character data, and the blank
// runs around it would be dropped. For the same reason a text of nothing but
// whitespace is written as references, which loading keeps.
void AppendText(const std::string& text, std::string* out) {
  const bool layoutOnly = IsLayoutOnly(text);
  for (char c : text) {
    switch (c) {
      case '&':
        *out += "&#38;";
        break;
      case '<':
        *out += "&#60;";
        break;
      case '>':
        *out += "&#62;";
        break;
      case '\r':
        // Literal CRs become LFs on loading.
        *out += "&#13;";
        break;
      case '\n':
        *out += layoutOnly ? "&#10;" : "\n";
        break;
      case '\t':
        *out += layoutOnly ? "&#9;" : "\t";
        break;
      case ' ':
        *out += layoutOnly ? "&#32;" : " ";
        break;
      default:
        *out += c;
    }
  }
}

// Literal tabs and line breaks in attribute values become spaces on loading,
// so they are written as references.
void AppendAttributeValue(const std::string& value, std::string* out) {
  for (char c : value) {
    switch (c) {
      case '&':
        *out += "&amp;";
        break;
      case '<':
        *out += "&lt;";
        break;
      case '>':
        *out += "&gt;";
        break;
      case '"':
        *out += "&quot;";
        break;
      case '\t':
        *out += "&#9;";
        break;
      case '\n':
        *out += "&#10;";
        break;
      case '\r':
        *out += "&#13;";
        break;
      default:
        *out += c;
    }
  }
}

struct OpenElement {
  const XmlNode::XmlNodeImpl* element;
  std::list<boost::shared_ptr<XmlNode::XmlNodeImpl>>::const_iterator nextChild;
  std::string name;
};

// Writes the start tag, or the whole element when it is empty. Returns false
// for what cannot be written; `*open` tells whether an end tag is owed.
bool WriteStart(const XmlNode::XmlNodeImpl& element, std::string* out, bool* open,
                std::string* name) {
  *name = ThroughPlatformString(element.name);
  if (!IsUsableName(element.name, *name)) return false;
  *out += '<';
  *out += *name;
  // The map's order is the ascending byte order of the names.
  for (const std::pair<const std::string, std::string>& attribute : element.attributes) {
    std::string attributeName = ThroughPlatformString(attribute.first);
    std::string value = ThroughPlatformString(attribute.second);
    if (!IsUsableName(attribute.first, attributeName) || !HasOnlyXmlCharacters(value)) return false;
    *out += ' ';
    *out += attributeName;
    *out += "=\"";
    AppendAttributeValue(value, out);
    *out += '"';
  }
  std::string text;
  if (!element.text.empty()) {
    text = ThroughPlatformString(std::string(element.text.begin(), element.text.end()));
    if (!HasOnlyXmlCharacters(text)) return false;
  }
  // A text cut to nothing at a NUL byte counts as no text.
  *open = !text.empty() || !element.children.empty();
  if (!*open) {
    *out += "/>";
    return true;
  }
  *out += '>';
  AppendText(text, out);
  return true;
}

}  // namespace

bool XmlWriter::Serialise(const XmlNode::XmlNodeImpl& root, std::string* out) {
  out->assign(kDeclaration);
  // An explicit stack: documents built by hand may be nested arbitrarily deep.
  std::vector<OpenElement> stack;
  const XmlNode::XmlNodeImpl* next = &root;
  for (;;) {
    if (next != nullptr) {
      bool open = false;
      std::string name;
      if (!WriteStart(*next, out, &open, &name)) return false;
      if (open) stack.push_back(OpenElement{next, next->children.begin(), std::move(name)});
      next = nullptr;
    }
    if (stack.empty()) return true;
    OpenElement& top = stack.back();
    if (top.nextChild != top.element->children.end()) {
      next = top.nextChild->get();
      ++top.nextChild;
    } else {
      *out += "</";
      *out += top.name;
      *out += '>';
      stack.pop_back();
    }
  }
}
