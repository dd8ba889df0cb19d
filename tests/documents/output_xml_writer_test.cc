#include "documents/output_xml_writer.h"

#include <gtest/gtest.h>

#include "tests/support/recording_log.h"
#include "tests/support/scoped_temp_dir.h"

namespace {

constexpr char kNotInstalled[] =
    "<response><sapCode>FLNX</sapCode><version></version><platform></platform><status>"
    "<appStatus>not-installed</appStatus><installedData><isUninstallable>false</isUninstallable>"
    "<isLaunchable>false</isLaunchable></installedData></status><bundleID></bundleID></response>";
constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
constexpr char kFailed[] = "In write to output XML\nError occurred while writing to XML";
constexpr char kInformed[] =
    "In write to output XML\nLoaded from string into xml\nOutput xml str: $R\nOutput xml path: "
    "$O\n";
// Longer than anything written, so that a file only overwritten shows it.
const std::string kPrevious(500, 'x');

struct WriteRow {
  const char* name;
  std::string response;
  const char* path;     // below the temporary folder, where out.xml holds kPrevious
  std::string written;  // out.xml afterwards
  std::string log;      // "\n"-joined; $R is the response, $O the path
};

class OutputXmlWriterTest : public ::testing::TestWithParam<WriteRow> {};

TEST_P(OutputXmlWriterTest, WritesOnlyAWellFormedResponseToAWritablePath) {
  const WriteRow& row = GetParam();
  ScopedTempDir temp;
  RecordingLog log;
  WriteFileOrDie(temp.path() + "/out.xml", kPrevious);
  AppStatusOperationParams params("");
  params.responseXml = row.response;
  params.outputXmlPath = temp.path() + row.path;
  EXPECT_EQ(OutputXmlWriter(log).WriteOutputXml(params), row.written == kPrevious ? 38 : 0);
  EXPECT_EQ(ReadFileOrDie(temp.path() + "/out.xml"), row.written);
  std::string expected = row.log;
  if (expected.find("$R") != std::string::npos) {
    expected.replace(expected.find("$R"), 2, row.response);
    expected.replace(expected.find("$O"), 2, params.outputXmlPath);
  }
  std::string lines;
  for (const std::string& line : log.lines()) lines += (lines.empty() ? "" : "\n") + line;
  EXPECT_EQ(lines, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OutputXmlWriterTest,
    ::testing::Values(
        WriteRow{"NotInstalledReplacingTheFile", kNotInstalled, "/out.xml",
                 std::string(kDeclaration) +
                     "<response><sapCode>FLNX</sapCode><version/><platform/><status><appStatus>"
                     "not-installed</appStatus><installedData><isUninstallable>false</"
                     "isUninstallable><isLaunchable>false</isLaunchable></installedData></"
                     "status><bundleID/></response>",
                 std::string(kInformed) + "Saved to xml"},
        WriteRow{"BareAmpersand", "<appPath>/A & B.app</appPath>", "/out.xml", kPrevious, kFailed},
        WriteRow{"Empty", "", "/out.xml", kPrevious, kFailed},
        WriteRow{"NotUtf8", "<a>\xff</a>", "/out.xml", kPrevious, kFailed},
        WriteRow{"MissingFolder", "<a>b</a>", "/missing/out.xml", kPrevious,
                 std::string(kInformed) + "Error occurred while writing to XML"}),
    [](const ::testing::TestParamInfo<WriteRow>& info) { return std::string(info.param.name); });

}  // namespace
