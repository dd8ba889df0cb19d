// Reads arbitrary bytes as a property-list file, in whichever of the two
// formats they claim to be. Nothing may abort or crash; whatever is read must
// have a kind, down to the last value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz/scratch_file.h"
#include "platform/property_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const ScratchFile file("skiff-fuzz-plist");
  PlistValue root;
  if (!ReadPropertyListFile(file.Write(data, size), &root)) return 0;
  std::vector<const PlistValue*> pending{&root};
  while (!pending.empty()) {
    const PlistValue* value = pending.back();
    pending.pop_back();
    if (value->kind == PlistValue::Kind::kNone) std::abort();
    for (const PlistValue& item : value->array) pending.push_back(&item);
    for (const auto& entry : value->dictionary) {
      if (value->Find(entry.first) != &entry.second) std::abort();
      pending.push_back(&entry.second);
    }
  }
  return 0;
}
