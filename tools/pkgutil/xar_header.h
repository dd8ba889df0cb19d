// The fixed header at the start of a flat installer package (a XAR archive).
//
// Layout, all fields big-endian:
//   0  uint32 magic "xar!"
//   4  uint16 header size (28, or more when a checksum name follows)
//   6  uint16 version (1)
//   8  uint64 compressed TOC length
//  16  uint64 uncompressed TOC length
//  24  uint32 checksum algorithm (0 none, 1 SHA-1, 2 MD5, 3 named)
//  28  for algorithm 3: the NUL-terminated algorithm name, within the header
// The zlib-compressed TOC follows at the header size; the heap follows it.
#ifndef SKIFF_TOOLS_PKGUTIL_XAR_HEADER_H_
#define SKIFF_TOOLS_PKGUTIL_XAR_HEADER_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace pkgutil {

enum class ChecksumAlgorithm { kNone, kSha1, kSha256, kSha512 };

struct XarHeader {
  static constexpr uint32_t kMagic = 0x78617221;
  static constexpr uint16_t kMinimumSize = 28;
  // The TOC of a real package is a few hundred kilobytes at most; anything
  // larger is refused before memory is set aside for it.
  static constexpr uint64_t kMaxTocSize = 16u * 1024 * 1024;

  uint16_t headerSize = 0;
  uint16_t version = 0;
  uint64_t tocCompressedLength = 0;
  uint64_t tocUncompressedLength = 0;
  ChecksumAlgorithm checksum = ChecksumAlgorithm::kNone;
};

// Parses the header from the first `size` bytes of a file of `fileSize` bytes
// (`size` may be less than the header size only when the file is that short).
// Every length is checked against the file, so the compressed TOC lies wholly
// inside it. On failure returns false and sets `error` to the reason.
bool ParseXarHeader(const uint8_t* data, size_t size, uint64_t fileSize, XarHeader* out,
                    std::string* error);

// The algorithm a checksum name stands for ("sha1", "sha256", "SHA-256", ...);
// false for a name that is not one we verify.
bool ChecksumAlgorithmFromName(const std::string& name, ChecksumAlgorithm* out);

// The lower-case name the TOC uses for the algorithm ("sha1", "sha256", ...).
const char* ChecksumAlgorithmName(ChecksumAlgorithm algorithm);

// Bytes in a digest of the algorithm; 0 for kNone.
size_t ChecksumLength(ChecksumAlgorithm algorithm);

}  // namespace pkgutil

#endif  // SKIFF_TOOLS_PKGUTIL_XAR_HEADER_H_
