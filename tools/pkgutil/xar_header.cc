#include "tools/pkgutil/xar_header.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace pkgutil {

namespace {

uint64_t ReadBigEndian(const uint8_t* data, size_t width) {
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) value = (value << 8) | data[i];
  return value;
}

bool Fail(std::string* error, const std::string& reason) {
  *error = reason;
  return false;
}

}  // namespace

bool ChecksumAlgorithmFromName(const std::string& name, ChecksumAlgorithm* out) {
  // Writers differ in case and in the hyphen ("sha256", "SHA-256").
  std::string folded;
  for (char c : name) {
    if (c != '-') folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  if (folded == "sha1") {
    *out = ChecksumAlgorithm::kSha1;
  } else if (folded == "sha256") {
    *out = ChecksumAlgorithm::kSha256;
  } else if (folded == "sha512") {
    *out = ChecksumAlgorithm::kSha512;
  } else {
    return false;
  }
  return true;
}

const char* ChecksumAlgorithmName(ChecksumAlgorithm algorithm) {
  switch (algorithm) {
    case ChecksumAlgorithm::kSha1:
      return "sha1";
    case ChecksumAlgorithm::kSha256:
      return "sha256";
    case ChecksumAlgorithm::kSha512:
      return "sha512";
    case ChecksumAlgorithm::kNone:
      break;
  }
  return "none";
}

size_t ChecksumLength(ChecksumAlgorithm algorithm) {
  switch (algorithm) {
    case ChecksumAlgorithm::kSha1:
      return 20;
    case ChecksumAlgorithm::kSha256:
      return 32;
    case ChecksumAlgorithm::kSha512:
      return 64;
    case ChecksumAlgorithm::kNone:
      break;
  }
  return 0;
}

bool ParseXarHeader(const uint8_t* data, size_t size, uint64_t fileSize, XarHeader* out,
                    std::string* error) {
  if (size < XarHeader::kMinimumSize || fileSize < XarHeader::kMinimumSize)
    return Fail(error, "the file is too short for a flat package header");
  if (ReadBigEndian(data, 4) != XarHeader::kMagic)
    return Fail(error, "the file does not start with the flat package magic \"xar!\"");

  XarHeader header;
  header.headerSize = static_cast<uint16_t>(ReadBigEndian(data + 4, 2));
  header.version = static_cast<uint16_t>(ReadBigEndian(data + 6, 2));
  header.tocCompressedLength = ReadBigEndian(data + 8, 8);
  header.tocUncompressedLength = ReadBigEndian(data + 16, 8);
  const uint64_t algorithm = ReadBigEndian(data + 24, 4);

  if (header.headerSize < XarHeader::kMinimumSize)
    return Fail(error, "header size " + std::to_string(header.headerSize) +
                           " is smaller than the minimum of 28");
  if (header.headerSize > size || header.headerSize > fileSize)
    return Fail(error, "header size " + std::to_string(header.headerSize) +
                           " runs past the end of the file");
  if (header.version != 1)
    return Fail(error, "unsupported format version " + std::to_string(header.version));

  switch (algorithm) {
    case 0:
      header.checksum = ChecksumAlgorithm::kNone;
      break;
    case 1:
      header.checksum = ChecksumAlgorithm::kSha1;
      break;
    case 2:
      return Fail(error, "the TOC checksum is MD5, which is refused");
    case 3: {
      const uint8_t* begin = data + XarHeader::kMinimumSize;
      const uint8_t* end = data + header.headerSize;
      const uint8_t* nul = std::find(begin, end, 0);
      if (nul == end) return Fail(error, "the checksum name is not terminated within the header");
      const std::string name(begin, nul);
      if (!ChecksumAlgorithmFromName(name, &header.checksum))
        return Fail(error, "unsupported checksum algorithm \"" + name + "\"");
      break;
    }
    default:
      return Fail(error, "unknown checksum algorithm " + std::to_string(algorithm));
  }

  const uint64_t afterHeader = fileSize - header.headerSize;
  if (header.tocCompressedLength == 0 || header.tocUncompressedLength == 0)
    return Fail(error, "the TOC is empty");
  if (header.tocCompressedLength > XarHeader::kMaxTocSize)
    return Fail(error, "compressed TOC length " + std::to_string(header.tocCompressedLength) +
                           " exceeds the limit of " + std::to_string(XarHeader::kMaxTocSize));
  if (header.tocUncompressedLength > XarHeader::kMaxTocSize)
    return Fail(error, "uncompressed TOC length " + std::to_string(header.tocUncompressedLength) +
                           " exceeds the limit of " + std::to_string(XarHeader::kMaxTocSize));
  if (header.tocCompressedLength > afterHeader)
    return Fail(error, "compressed TOC length " + std::to_string(header.tocCompressedLength) +
                           " runs past the end of the file");
  *out = header;
  return true;
}

}  // namespace pkgutil
