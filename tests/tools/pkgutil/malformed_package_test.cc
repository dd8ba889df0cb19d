// Files that are not flat packages, are cut short or carry hostile lengths and
// offsets: each is refused as malformed, with the field that is wrong.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>

#include "tests/tools/pkgutil/package_test_fixture.h"

namespace {

using pkgutil::Verdict;
using ::testing::HasSubstr;

constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

struct MalformedCase {
  const char* name;
  std::function<void(FlatPackageOptions*)> options;
  std::function<void(std::string*)> bytes;
  const char* reason;
};

void NoChange(FlatPackageOptions*) {}
void Put(std::string* bytes, size_t offset, uint64_t value, size_t width) {
  PutBigEndian(bytes, offset, value, width);
}
uint64_t CompressedLength(const std::string& bytes) {
  return GetBigEndian(bytes, FlatPackageLayout::kCompressedTocLength, 8);
}
uint64_t UncompressedLength(const std::string& bytes) {
  return GetBigEndian(bytes, FlatPackageLayout::kUncompressedTocLength, 8);
}

const MalformedCase kCases[] = {
    {"Empty", NoChange, [](std::string* b) { b->clear(); }, "too short"},
    {"ShorterThanHeader", NoChange, [](std::string* b) { b->resize(27); }, "too short"},
    {"Garbage", NoChange, [](std::string* b) { *b = std::string(4096, 'x'); }, "magic"},
    {"HeaderSizeTooSmall", NoChange, [](std::string* b) { Put(b, 4, 27, 2); }, "smaller than"},
    {"HeaderSizePastEnd", NoChange, [](std::string* b) { Put(b, 4, 0xFFFF, 2); },
     "header size 65535 runs past the end"},
    {"Version", NoChange, [](std::string* b) { Put(b, 6, 2, 2); }, "version 2"},
    {"Md5Refused", NoChange, [](std::string* b) { Put(b, 24, 2, 4); }, "MD5"},
    {"UnknownAlgorithm", NoChange, [](std::string* b) { Put(b, 24, 7, 4); }, "unknown checksum"},
    {"NamedAlgorithmWithoutName", NoChange, [](std::string* b) { Put(b, 24, 3, 4); },
     "not terminated"},
    {"UnknownAlgorithmName",
     [](FlatPackageOptions* s) {
       s->checksum = PackageChecksum::kSha256;
       s->headerChecksumName = "md5";
     },
     nullptr, "unsupported checksum algorithm \"md5\""},
    {"HugeCompressedLength", NoChange, [](std::string* b) { Put(b, 8, kMax, 8); },
     "exceeds the limit"},
    {"CompressedLengthPastEnd", NoChange, [](std::string* b) { Put(b, 8, b->size(), 8); },
     "runs past the end of the file"},
    {"HugeUncompressedLength", NoChange, [](std::string* b) { Put(b, 16, kMax, 8); },
     "exceeds the limit"},
    {"EmptyToc", NoChange, [](std::string* b) { Put(b, 8, 0, 8); }, "empty"},
    {"InflatesToLess", NoChange, [](std::string* b) { Put(b, 16, UncompressedLength(*b) + 1, 8); },
     "not the declared"},
    {"InflatesToMore", NoChange, [](std::string* b) { Put(b, 16, UncompressedLength(*b) - 1, 8); },
     "more than the declared"},
    {"CompressedTocCut", NoChange, [](std::string* b) { Put(b, 8, CompressedLength(*b) - 1, 8); },
     "truncated"},
    {"CompressedTocWithTrailingData", NoChange,
     [](std::string* b) { Put(b, 8, CompressedLength(*b) + 1, 8); }, "after its end"},
    {"CompressedTocCorrupt", NoChange, [](std::string* b) { (*b)[28 + 2] ^= 0x02; },
     "compressed TOC is"},
    {"HeapCut", NoChange, [](std::string* b) { b->resize(b->size() - 100); },
     "signature: heap item"},
    {"ChecksumOffsetOverflows", [](FlatPackageOptions* s) { s->checksumOffset = kMax - 5; },
     nullptr, "runs past the end of the heap"},
    {"ChecksumSizeMismatch", [](FlatPackageOptions* s) { s->checksumSize = 32; }, nullptr,
     "checksum size 32 is not that of a sha1 digest"},
    {"SignatureOffsetPastEnd", [](FlatPackageOptions* s) { s->signatureOffset = 1u << 20; },
     nullptr, "runs past the end of the heap"},
    {"SignatureSizeHuge", [](FlatPackageOptions* s) { s->signatureSize = kMax; }, nullptr,
     "exceeds the limit"},
    {"SignatureSizeZero", [](FlatPackageOptions* s) { s->signatureSize = 0; }, nullptr,
     "size is 0"},
    {"CmsSignaturePastEnd", [](FlatPackageOptions* s) { s->cmsSignatureSize = 60000; }, nullptr,
     "x-signature: heap item"},
    {"SignedWithoutHeaderChecksum", NoChange, [](std::string* b) { Put(b, 24, 0, 4); },
     "names no checksum"},
    {"HeaderAndTocChecksumsDiffer",
     [](FlatPackageOptions* s) {
       s->checksum = PackageChecksum::kSha256;
       s->headerChecksumName = "sha1";
     },
     nullptr, "does not match the header's sha1"},
};

class MalformedPackageTest : public PackageTest,
                             public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(MalformedPackageTest, IsRefusedWithTheReason) {
  FlatPackageOptions recipe = Signed();
  GetParam().options(&recipe);
  std::string package = WriteFlatPackage(recipe);
  if (GetParam().bytes) GetParam().bytes(&package);
  const pkgutil::VerificationResult result = Check(package);
  EXPECT_EQ(result.verdict, Verdict::kMalformed) << StatusText(result);
  EXPECT_THAT(result.detail, HasSubstr(GetParam().reason));
}

INSTANTIATE_TEST_SUITE_P(Hostile, MalformedPackageTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PackageTest, EveryTruncationOfAValidPackageIsRefusedWithoutCrashing) {
  const std::string package = WriteFlatPackage(Signed());
  for (size_t length = 0; length < package.size(); ++length) {
    const Verdict verdict = Check(package.substr(0, length)).verdict;
    // Only the unsigned payload may be cut without notice.
    if (length < package.size() - FlatPackageOptions().payload.size()) {
      ASSERT_EQ(verdict, Verdict::kMalformed) << "cut at " << length;
    }
  }
}

}  // namespace
