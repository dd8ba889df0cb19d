#include "documents/output_xml_writer.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/recording_log.h"
#include "tests/support/scoped_temp_dir.h"

namespace {

constexpr char kNotInstalled[] =
    "<response><sapCode>FLNX</sapCode><version></version><platform></platform><status>"
    "<appStatus>not-installed</appStatus><installedData><isUninstallable>false</isUninstallable>"
    "<isLaunchable>false</isLaunchable></installedData></status><bundleID></bundleID></response>";

class OutputXmlWriterTest : public ::testing::Test {
 protected:
  OutputXmlWriterTest() : writer_(log_) {}

  AppStatusOperationParams Params(const std::string& response, const std::string& path) {
    AppStatusOperationParams params("");
    params.responseXml = response;
    params.outputXmlPath = path;
    return params;
  }

  ScopedTempDir temp_;
  RecordingLog log_;
  OutputXmlWriter writer_;
};

TEST_F(OutputXmlWriterTest, NotInstalledResponseIsSavedWithEmptyElementTags) {
  const std::string out = temp_.path() + "/out.xml";
  ASSERT_EQ(writer_.WriteOutputXml(Params(kNotInstalled, out)), 0);
  EXPECT_EQ(
      ReadFileOrDie(out),
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
      "<response><sapCode>FLNX</sapCode><version/><platform/><status>"
      "<appStatus>not-installed</appStatus><installedData><isUninstallable>false</isUninstallable>"
      "<isLaunchable>false</isLaunchable></installedData></status><bundleID/></response>");
  EXPECT_EQ(log_.lines(),
            (std::vector<std::string>{"In write to output XML", "Loaded from string into xml",
                                      std::string("Output xml str: ") + kNotInstalled,
                                      "Output xml path: " + out, "Saved to xml"}));
}

TEST_F(OutputXmlWriterTest, AnExistingFileIsReplacedNotAppended) {
  const std::string out = temp_.path() + "/out.xml";
  WriteFileOrDie(out, std::string(5000, 'x'));
  ASSERT_EQ(writer_.WriteOutputXml(Params("<a>b</a>", out)), 0);
  EXPECT_EQ(ReadFileOrDie(out), "<?xml version=\"1.0\" encoding=\"utf-8\"?><a>b</a>");
}

TEST_F(OutputXmlWriterTest, MalformedOrEmptyResponsesFailBeforeTouchingTheFile) {
  const std::string out = temp_.path() + "/out.xml";
  WriteFileOrDie(out, "previous");
  EXPECT_EQ(writer_.WriteOutputXml(Params("<appPath>/A & B.app</appPath>", out)), 38);
  EXPECT_EQ(writer_.WriteOutputXml(Params("", out)), 38);
  EXPECT_EQ(writer_.WriteOutputXml(Params("<a>\xff</a>", out)), 38);
  EXPECT_EQ(ReadFileOrDie(out), "previous");
  const auto messages = log_.lines();
  ASSERT_EQ(messages.size(), 6u);
  for (size_t i = 0; i < messages.size(); i += 2) {
    EXPECT_EQ(messages[i], "In write to output XML");
    EXPECT_EQ(messages[i + 1], "Error occurred while writing to XML");
  }
}

}  // namespace
