#include <cstdint>
#include <string>
#include <vector>

#include "platform/bundle.h"
#include "platform/regular_file.h"

namespace {

// Enough for any Mach-O or ELF header and for a universal header with the
// largest number of slices accepted.
constexpr size_t kHeaderBytes = 4096;
// Real universal files carry a handful of slices. A Java class file starts
// with the same magic followed by its version numbers, which read as a count
// of 45 or more, so the cap stays below that.
constexpr uint32_t kMaxFatSlices = 32;

constexpr uint16_t kElfMachineI386 = 3;
constexpr uint16_t kElfMachineX86_64 = 62;
constexpr uint16_t kElfMachineAArch64 = 183;

uint64_t ReadUnsigned(const std::string& bytes, size_t offset, size_t size, bool bigEndian) {
  uint64_t value = 0;
  for (size_t i = 0; i < size; ++i) {
    const size_t index = bigEndian ? offset + i : offset + size - 1 - i;
    value = (value << 8) | static_cast<uint8_t>(bytes[index]);
  }
  return value;
}

std::vector<uint32_t> ThinMachO(const std::string& header, bool bigEndian, bool is64) {
  const size_t headerSize = is64 ? 32 : 28;
  if (header.size() < headerSize) return {};
  return {static_cast<uint32_t>(ReadUnsigned(header, 4, 4, bigEndian))};
}

// The processor type of every entry of the table, as the platform lists
// them: where each slice lies is not looked at, so a slice running past the
// end of the file still counts. The whole table must lie in `header`.
std::vector<uint32_t> Universal(const std::string& header, bool offsets64) {
  if (header.size() < 8) return {};
  const uint32_t count = static_cast<uint32_t>(ReadUnsigned(header, 4, 4, true));
  // fat_arch: cputype, cpusubtype, offset, size, align; fat_arch_64 widens
  // offset and size to 64 bits and adds a reserved word.
  const size_t entrySize = offsets64 ? 32 : 20;
  if (count == 0 || count > kMaxFatSlices) return {};
  if (8 + uint64_t{count} * entrySize > header.size()) return {};
  std::vector<uint32_t> types;
  for (uint32_t i = 0; i < count; ++i)
    types.push_back(static_cast<uint32_t>(ReadUnsigned(header, 8 + i * entrySize, 4, true)));
  return types;
}

std::vector<uint32_t> Elf(const std::string& header) {
  if (header.size() < 6) return {};
  const uint8_t elfClass = static_cast<uint8_t>(header[4]);
  const uint8_t elfData = static_cast<uint8_t>(header[5]);
  if ((elfClass != 1 && elfClass != 2) || (elfData != 1 && elfData != 2)) return {};
  const size_t headerSize = elfClass == 2 ? 64 : 52;
  if (header.size() < headerSize) return {};
  switch (ReadUnsigned(header, 18, 2, elfData == 2)) {
    case kElfMachineX86_64:
      return {kBundleExecutableArchitectureX86_64};
    case kElfMachineI386:
      return {kBundleExecutableArchitectureI386};
    case kElfMachineAArch64:
      return {kBundleExecutableArchitectureARM64};
    default:
      return {};
  }
}

}  // namespace

std::vector<uint32_t> ReadExecutableArchitectures(const std::string& path) {
  std::string header;
  unsigned long long fileSize = 0;
  if (!ReadRegularFileHead(path, kHeaderBytes, &header, &fileSize) || header.size() < 4) return {};
  if (header.compare(0, 4,
                     "\x7f"
                     "ELF") == 0)
    return Elf(header);
  switch (ReadUnsigned(header, 0, 4, true)) {
    case 0xfeedface:
      return ThinMachO(header, true, false);
    case 0xfeedfacf:
      return ThinMachO(header, true, true);
    case 0xcefaedfe:
      return ThinMachO(header, false, false);
    case 0xcffaedfe:
      return ThinMachO(header, false, true);
    case 0xcafebabe:
      return Universal(header, false);
    case 0xcafebabf:
      return Universal(header, true);
    default:
      return {};
  }
}
