// The one way characters that XML reserves are written.
#ifndef SKIFF_XML_XML_ESCAPE_H_
#define SKIFF_XML_XML_ESCAPE_H_

#include <cstddef>
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

// The most bytes any escaping writes for one byte of text.
constexpr size_t kMaxEscapedBytesPerByte = 6;

// Whether `text` is nothing but spaces, tabs, CRs and LFs (or empty).
bool IsXmlLayoutOnly(std::string_view text);

// Writes `text` at `out` with the characters `escaping` reserves replaced and
// returns the end of what was written. `out` has room for
// kMaxEscapedBytesPerByte bytes per byte of `text`. `layoutOnly` tells
// whether the whole text, of which `text` may be a piece, is layout only
// (it matters for kText only).
char* WriteXmlEscaped(std::string_view text, XmlEscaping escaping, bool layoutOnly, char* out);

// WriteXmlEscaped for text a document can carry as it is: valid UTF-8 of
// characters XML allows, with no NUL byte, not layout only. Checking and
// escaping take one pass. Returns null for any other text; the caller then
// takes its careful way. For kText and kAttribute only.
char* WriteXmlEscapedIfCarried(std::string_view text, XmlEscaping escaping, char* out);

// Appends `text` escaped to `out`.
void AppendXmlEscaped(std::string_view text, XmlEscaping escaping, std::string* out);

#endif  // SKIFF_XML_XML_ESCAPE_H_
