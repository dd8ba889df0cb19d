// Reading the signature's place and certificates out of TOC XML.
#include "tools/pkgutil/package_signature.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using pkgutil::PackageSignature;
using pkgutil::ReadPackageSignature;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string Toc(const std::string& inside) { return "<xar><toc>" + inside + "</toc></xar>"; }

const char kChecksum[] = "<checksum style=\"sha1\"><offset>0</offset><size>20</size></checksum>";

TEST(PackageSignatureTest, ReadsRangesAndCertificatesInOrder) {
  // "AAEC" is 00 01 02; the second is wrapped and prefixed as some writers do.
  const std::string toc = Toc(std::string(kChecksum) +
                              "<signature style=\"RSA\"><offset> 20 </offset><size>256</size>"
                              "<ds:KeyInfo><ds:X509Data>"
                              "<ds:X509Certificate>AAEC</ds:X509Certificate>"
                              "<ds:X509Certificate>\n  aGVs\n  bG8=\n</ds:X509Certificate>"
                              "</ds:X509Data></ds:KeyInfo></signature>");
  PackageSignature signature;
  std::string error;
  ASSERT_TRUE(ReadPackageSignature(toc, &signature, &error)) << error;
  EXPECT_TRUE(signature.hasChecksum);
  EXPECT_EQ(signature.checksumStyle, "sha1");
  EXPECT_EQ(signature.checksum.size, 20u);
  ASSERT_TRUE(signature.hasSignature);
  EXPECT_EQ(signature.signatureStyle, "RSA");
  EXPECT_EQ(signature.signature.offset, 20u);
  EXPECT_EQ(signature.signature.size, 256u);
  EXPECT_THAT(signature.certificates, ElementsAre(std::string("\0\1\2", 3), "hello"));
}

TEST(PackageSignatureTest, RefusesBadFields) {
  const std::string signature = "<signature style=\"RSA\"><offset>20</offset><size>256</size>";
  std::string tooMany;
  for (size_t i = 0; i <= PackageSignature::kMaxCertificates; ++i)
    tooMany += "<X509Certificate>AAEC</X509Certificate>";
  const std::pair<std::string, std::string> cases[] = {
      {"<xar><toc>", "not well-formed"},
      {"<other><toc/></other>", "root element"},
      {"<xar/>", "no <toc>"},
      {Toc("<checksum><size>20</size></checksum>"), "checksum has no offset"},
      {Toc("<checksum><offset>0x10</offset><size>20</size></checksum>"), "not a number"},
      {Toc("<checksum><offset>-1</offset><size>20</size></checksum>"), "not a number"},
      {Toc("<checksum><offset>18446744073709551616</offset><size>1</size></checksum>"),
       "not a number"},
      {Toc("<signature><offset>20</offset></signature>"), "signature has no size"},
      {Toc(signature + "<KeyInfo><X509Data><X509Certificate>!!!!</X509Certificate>"
                       "</X509Data></KeyInfo></signature>"),
       "certificate 1 of the TOC signature is not base64"},
      {Toc(signature + "<KeyInfo><X509Data>" + tooMany + "</X509Data></KeyInfo></signature>"),
       "more than 16 certificates"},
  };
  for (const auto& [toc, reason] : cases) {
    PackageSignature read;
    std::string error;
    EXPECT_FALSE(ReadPackageSignature(toc, &read, &error)) << toc;
    EXPECT_THAT(error, HasSubstr(reason)) << toc;
  }
}

}  // namespace
