#include "xml/xml_loader.h"

#include <expat.h>

#include <boost/make_shared.hpp>
#include <climits>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mac_utils.h"
#include "xml/xml_impl.h"
#include "xml/xml_load_arena.h"
#include "xml/xml_tree_clearer.h"

namespace {

// Attributes whose lengths StartElement keeps; an element with more measures
// the rest again.
constexpr size_t kMeasuredAttributes = 16;

// What a loaded tree takes in memory for each byte of the document, about: a
// first arena block this large is seldom outgrown.
constexpr size_t kArenaBytesPerByte = 6;

bool IsXmlWhitespace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Strings reach the tree only if the platform conversion would take them,
// which stands for what the platform parser would have delivered.
// ASCII without NUL bytes is taken at a glance; the parser delivers mostly
// that.
bool IsConvertible(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) - 1u >= 0x7Fu) return MacUtils::IsConvertible(text);
  }
  return true;
}

class ParseSession {
 public:
  ParseSession(XML_Parser parser, const char* data, size_t size, const XmlLoadLimits& limits,
               boost::intrusive_ptr<XmlLoadArena> arena)
      : parser_(parser), data_(data), size_(size), limits_(limits), elements_(std::move(arena)) {}

  bool Run();
  void Fail();
  bool failed() const { return failed_; }
  ~ParseSession() { XmlTreeClearer::Clear(root_); }

  // The root with everything kept below it; null when the root was lost.
  boost::shared_ptr<XmlNode::XmlNodeImpl> TakeRoot() { return std::move(root_); }

  static void XMLCALL OnStartElement(void* self, const XML_Char* name, const XML_Char** attributes);
  static void XMLCALL OnEndElement(void* self, const XML_Char* name);
  static void XMLCALL OnCharacterData(void* self, const XML_Char* text, int length);
  static void XMLCALL OnStartCdata(void* self);
  static void XMLCALL OnEndCdata(void* self);
  static void XMLCALL OnSkippedEntity(void* self, const XML_Char* name, int isParameterEntity);
  static void XMLCALL OnDefault(void* self, const XML_Char* text, int length);

 private:
  void StartElement(const char* name, const char** attributes);
  void EndElement();
  void CharacterData(const char* text, int length);
  void EndRun();
  void AppendText(std::string_view text);
  void FlushText();
  bool CurrentEventIsReference(bool* isCharacterReference) const;
  bool Charge(size_t nodes, size_t bytes);
  bool FitsPending(size_t pending) const;

  XML_Parser parser_;
  const char* data_;
  size_t size_;
  const XmlLoadLimits limits_;
  // What the document has built so far, against limits_.
  size_t nodes_ = 0;
  size_t contentBytes_ = 0;
  bool failed_ = false;
  boost::shared_ptr<XmlNode::XmlNodeImpl> root_;
  XmlArenaAllocator<XmlNode::XmlNodeImpl> elements_;
  // The open elements that were kept, innermost last.
  std::vector<boost::shared_ptr<XmlNode::XmlNodeImpl>> open_;
  int depth_ = 0;
  // Nesting inside an element that was lost; its whole content is skipped.
  int skippedDepth_ = 0;
  std::string run_;
  bool runHasCharacterReference_ = false;
  bool inCdata_ = false;
  std::string cdata_;
  // Text kept for the innermost open element, moved into it in one piece
  // before another element opens or it closes.
  std::string text_;
};

ParseSession* From(void* self) { return static_cast<ParseSession*>(self); }

// No exception may cross the parser's C frames; one that gets this far (out
// of memory) fails the load.
template <typename Step>
void Guarded(void* self, Step step) {
  ParseSession* session = From(self);
  // A stopped parser may still report the rest of the current buffer.
  if (session->failed()) return;
  try {
    step(session);
  } catch (...) {
    session->Fail();
  }
}

void XMLCALL ParseSession::OnStartElement(void* self, const XML_Char* name,
                                          const XML_Char** attributes) {
  Guarded(self, [&](ParseSession* session) { session->StartElement(name, attributes); });
}

void XMLCALL ParseSession::OnEndElement(void* self, const XML_Char*) {
  Guarded(self, [](ParseSession* session) { session->EndElement(); });
}

void XMLCALL ParseSession::OnCharacterData(void* self, const XML_Char* text, int length) {
  Guarded(self, [&](ParseSession* session) { session->CharacterData(text, length); });
}

void XMLCALL ParseSession::OnStartCdata(void* self) {
  Guarded(self, [](ParseSession* session) {
    session->EndRun();
    session->inCdata_ = true;
  });
}

void XMLCALL ParseSession::OnEndCdata(void* self) {
  Guarded(self, [](ParseSession* session) {
    session->inCdata_ = false;
    // A section counts as it is, whitespace or not.
    session->AppendText(session->cdata_);
    session->cdata_.clear();
  });
}

// Undeclared entities: the reference ends a run and adds nothing.
void XMLCALL ParseSession::OnSkippedEntity(void* self, const XML_Char*, int) {
  Guarded(self, [](ParseSession* session) { session->EndRun(); });
}

// Everything else the parser does not report on its own: references to
// declared entities (reported raw because a default handler is set, which is
// what keeps the parser from expanding them), comments, processing
// instructions, the prolog. All of it is markup that ends a run.
void XMLCALL ParseSession::OnDefault(void* self, const XML_Char*, int) {
  Guarded(self, [](ParseSession* session) { session->EndRun(); });
}

void ParseSession::Fail() {
  failed_ = true;
  XML_StopParser(parser_, XML_FALSE);
}

bool ParseSession::Run() {
  XML_SetUserData(parser_, this);
  XML_SetElementHandler(parser_, OnStartElement, OnEndElement);
  XML_SetCharacterDataHandler(parser_, OnCharacterData);
  XML_SetCdataSectionHandler(parser_, OnStartCdata, OnEndCdata);
  XML_SetSkippedEntityHandler(parser_, OnSkippedEntity);
  XML_SetDefaultHandler(parser_, OnDefault);
  XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
  // Pretending an external subset exists that is never read makes references
  // to undeclared entities skipped entities instead of errors.
  XML_UseForeignDTD(parser_, XML_TRUE);

  const char* next = data_;
  size_t left = size_;
  do {
    const int chunk =
        left > static_cast<size_t>(INT_MAX / 2) ? INT_MAX / 2 : static_cast<int>(left);
    left -= static_cast<size_t>(chunk);
    if (XML_Parse(parser_, next, chunk, left == 0 ? XML_TRUE : XML_FALSE) != XML_STATUS_OK)
      return false;
    next += chunk;
  } while (left > 0);
  return !failed_;
}

// Counts what an element or a piece of text adds; fails the load once the
// document would hold more than its limits allow.
bool ParseSession::Charge(size_t nodes, size_t bytes) {
  if (nodes > limits_.maxNodes - nodes_ || bytes > limits_.maxContentBytes - contentBytes_) {
    Fail();
    return false;
  }
  nodes_ += nodes;
  contentBytes_ += bytes;
  return true;
}

// Text waiting to be kept or dropped as layout is bounded like kept text, so
// a long run costs at most twice the bound before it is judged.
bool ParseSession::FitsPending(size_t pending) const { return pending <= limits_.maxContentBytes; }

void ParseSession::StartElement(const char* name, const char** attributes) {
  EndRun();
  FlushText();
  if (++depth_ > XmlLoader::kMaxDepth) {
    Fail();
    return;
  }
  // Each string is measured once; what follows works on the lengths.
  const std::string_view elementName(name);
  size_t attributeCount = 0;
  std::string_view strings[2 * kMeasuredAttributes];
  size_t bytes = elementName.size();
  for (const char** attribute = attributes; attribute[0] != nullptr; attribute += 2) {
    const std::string_view attributeName(attribute[0]);
    const std::string_view value(attribute[1]);
    if (attributeCount < kMeasuredAttributes) {
      strings[2 * attributeCount] = attributeName;
      strings[2 * attributeCount + 1] = value;
    }
    ++attributeCount;
    bytes += attributeName.size() + value.size();
  }
  if (!Charge(1 + attributeCount, bytes)) return;
  if (skippedDepth_ > 0) {
    ++skippedDepth_;
    return;
  }
  bool lost = false;
  const bool isRoot = !root_ && open_.empty();
  try {
    if (!IsConvertible(elementName)) {
      lost = true;
    } else {
      std::pmr::memory_resource* const memory = elements_.arena().get();
      // The element and its count in one piece of the arena.
      boost::shared_ptr<XmlNode::XmlNodeImpl> element =
          boost::allocate_shared<XmlNode::XmlNodeImpl>(elements_, memory);
      element->name.assign(elementName.data(), elementName.size());
      // The parser has already refused empty and repeated attribute names.
      for (size_t index = 0; index < attributeCount; ++index) {
        const std::string_view attributeName = index < kMeasuredAttributes
                                                   ? strings[2 * index]
                                                   : std::string_view(attributes[2 * index]);
        const std::string_view value = index < kMeasuredAttributes
                                           ? strings[2 * index + 1]
                                           : std::string_view(attributes[2 * index + 1]);
        if (IsConvertible(attributeName) && IsConvertible(value)) {
          element->attributes.emplace_hint(element->attributes.end(), attributeName, value);
        } else {
          lost = true;
        }
      }
      if (!lost) {
        if (isRoot) root_ = element;
        if (!open_.empty()) {
          open_.back()->children.push_back(element);
          element->parent = open_.back();
        }
        open_.push_back(std::move(element));
      }
    }
  } catch (const std::runtime_error&) {
    lost = true;
  }
  if (lost) {
    // A lost root leaves no document; its content is skipped with it.
    skippedDepth_ = 1;
  }
}

void ParseSession::EndElement() {
  EndRun();
  FlushText();
  --depth_;
  if (skippedDepth_ > 0) {
    --skippedDepth_;
    return;
  }
  open_.pop_back();
}

void ParseSession::CharacterData(const char* text, int length) {
  if (inCdata_) {
    if (!FitsPending(cdata_.size() + static_cast<size_t>(length))) {
      Fail();
      return;
    }
    cdata_.append(text, static_cast<size_t>(length));
    return;
  }
  bool isCharacterReference = false;
  if (CurrentEventIsReference(&isCharacterReference) && !isCharacterReference) {
    // One of the five predefined entities: a run of its own.
    EndRun();
    AppendText(std::string_view(text, static_cast<size_t>(length)));
    return;
  }
  if (!FitsPending(run_.size() + static_cast<size_t>(length))) {
    Fail();
    return;
  }
  run_.append(text, static_cast<size_t>(length));
  runHasCharacterReference_ = runHasCharacterReference_ || isCharacterReference;
}

// Whitespace written as character references was meant as content, so only a
// run of literal whitespace counts as layout.
void ParseSession::EndRun() {
  if (run_.empty()) return;
  bool layoutOnly = !runHasCharacterReference_;
  for (std::string::size_type i = 0; layoutOnly && i < run_.size(); ++i)
    layoutOnly = IsXmlWhitespace(run_[i]);
  if (!layoutOnly) AppendText(run_);
  run_.clear();
  runHasCharacterReference_ = false;
}

void ParseSession::AppendText(std::string_view text) {
  if (text.empty() || skippedDepth_ > 0 || open_.empty() || !IsConvertible(text)) return;
  if (!Charge(0, text.size())) return;
  text_.append(text.data(), text.size());
}

void ParseSession::FlushText() {
  if (text_.empty()) return;
  auto& target = open_.back()->text;
  target.insert(target.end(), text_.begin(), text_.end());
  text_.clear();
}

// The parser delivers predefined entity and character references as
// character data of their own; they are told apart by the source bytes of the
// event, which start with "&" (and "&#" for a character reference). NUL bytes
// are skipped so the test also holds for UTF-16 input.
bool ParseSession::CurrentEventIsReference(bool* isCharacterReference) const {
  XML_Index start = XML_GetCurrentByteIndex(parser_);
  int count = XML_GetCurrentByteCount(parser_);
  if (start < 0 || count <= 0 || static_cast<size_t>(start) >= size_) return false;
  size_t end = static_cast<size_t>(start) + static_cast<size_t>(count);
  if (end > size_) end = size_;
  char seen[2];
  int found = 0;
  for (size_t i = static_cast<size_t>(start); i < end && found < 2; ++i) {
    if (data_[i] != '\0') seen[found++] = data_[i];
  }
  if (found < 2 || seen[0] != '&') return false;
  *isCharacterReference = seen[1] == '#';
  return true;
}

}  // namespace

bool XmlLoader::Parse(const char* data, size_t size, boost::shared_ptr<XmlDocument>& out,
                      const XmlLoadLimits& limits) {
  XML_Parser parser = XML_ParserCreate(nullptr);
  if (parser == nullptr) return false;
  boost::shared_ptr<XmlDocument> document;
  try {
    const boost::intrusive_ptr<XmlLoadArena> arena(new XmlLoadArena(kArenaBytesPerByte * size));
    {
      ParseSession session(parser, data, size, limits, arena);
      // A document whose only element was lost has no root and is no
      // document. The parser has refused an empty root name, which Create
      // would refuse.
      if (session.Run()) {
        // Made before the root leaves the session, which takes the tree
        // apart should this run out of memory.
        boost::shared_ptr<XmlDocument> made(new XmlDocument);
        made->impl_->root = session.TakeRoot();
        if (made->impl_->root) document = std::move(made);
      }
    }
    arena->Seal();
  } catch (const std::bad_alloc&) {
    document.reset();
  }
  XML_ParserFree(parser);
  if (!document) return false;
  out = document;
  return true;
}
