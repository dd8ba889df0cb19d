// Reads arbitrary bytes as an executable. Only the processor types found in
// a thin or universal Mach-O header can come out; an ELF file yields one of
// the three known types or none.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/scratch_file.h"
#include "platform/bundle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const ScratchFile file("skiff-fuzz-executable");
  const std::vector<uint32_t> types = ReadExecutableArchitectures(file.Write(data, size));
  if (types.size() > 64) std::abort();
  if (size >= 4 && std::memcmp(data,
                               "\x7f"
                               "ELF",
                               4) == 0) {
    if (types.size() > 1) std::abort();
    for (uint32_t type : types) {
      if (type != kBundleExecutableArchitectureX86_64 &&
          type != kBundleExecutableArchitectureI386 && type != kBundleExecutableArchitectureARM64)
        std::abort();
    }
  }
  return 0;
}
