// Loads arbitrary bytes; whatever loads must serialise, save to a file and
// load again from both to the same tree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/scratch_file.h"
#include "xml/xml_document.h"
#include "xml/xml_impl.h"
#include "xml/xml_writer.h"

namespace {

bool SameTree(const XmlNode::XmlNodeImpl& left, const XmlNode::XmlNodeImpl& right) {
  std::vector<std::pair<const XmlNode::XmlNodeImpl*, const XmlNode::XmlNodeImpl*>> pending;
  pending.emplace_back(&left, &right);
  while (!pending.empty()) {
    const XmlNode::XmlNodeImpl* a = pending.back().first;
    const XmlNode::XmlNodeImpl* b = pending.back().second;
    pending.pop_back();
    if (a->name != b->name || a->text != b->text || a->attributes != b->attributes ||
        a->children.size() != b->children.size())
      return false;
    auto child = b->children.begin();
    for (const auto& other : a->children) pending.emplace_back(other.get(), (child++)->get());
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  boost::shared_ptr<XmlDocument> document;
  try {
    if (!XmlDocument::LoadFromString(text, document)) return 0;
  } catch (const std::runtime_error&) {
    return 0;  // not UTF-8 up to the first NUL
  }
  const XmlNode root = document->GetRootElement();
  XmlOutput saved;
  if (!XmlWriter::Serialise(*root.data(), &saved)) abort();
  boost::shared_ptr<XmlDocument> reloaded;
  if (!XmlDocument::LoadFromString(std::string(saved.view()), reloaded)) abort();
  if (!SameTree(*root.data(), *reloaded->GetRootElement().data())) abort();

  static const ScratchFile file("skiff-fuzz-xml");
  boost::shared_ptr<XmlDocument> fromFile;
  if (!document->Save(file.path(), true) || !XmlDocument::LoadFromFile(file.path(), fromFile))
    abort();
  if (!SameTree(*root.data(), *fromFile->GetRootElement().data())) abort();
  return 0;
}
