// The one way characters that XML reserves are written.
#ifndef SKIFF_XML_XML_ESCAPE_H_
#define SKIFF_XML_XML_ESCAPE_H_

#include <string>
#include <string_view>

enum class XmlEscaping {
  // Element text as the writer saves it. "&", "<", ">" and CR become
  // character references rather than entity references: on loading an entity
  // reference ends a run of character data, and the blank runs around it
  // would be dropped. For the same reason a text of nothing but whitespace
  // has all of it written as references, which loading keeps; other text
  // keeps its whitespace literal.
  kText,
  // A value between double quotes: "&", "<", ">" and '"' as entity
  // references; tab, LF and CR as character references, since literal ones
  // become spaces on loading.
  kAttribute,
  // Element content with the five predefined entity references for "&",
  // "<", ">", '"' and "'", and nothing else replaced.
  kEntities,
};

// Appends `text` to `out` with the characters `escaping` reserves replaced;
// the bytes between them are appended a run at a time.
void AppendXmlEscaped(std::string_view text, XmlEscaping escaping, std::string* out);

// AppendXmlEscaped for text a document can carry as it is: valid UTF-8 of
// characters XML allows, with no NUL byte, and for kText not made of nothing
// but whitespace. Checking and escaping take one pass. Returns false, with
// `out` as it was, for any other text; the caller then takes its careful way.
bool AppendXmlEscapedIfCarried(std::string_view text, XmlEscaping escaping, std::string* out);

#endif  // SKIFF_XML_XML_ESCAPE_H_
