#include "documents/output_xml_writer.h"

#include <gtest/gtest.h>

#include "tests/support/recording_log.h"
#include "tests/support/scoped_temp_dir.h"

namespace {

// Longer than anything written, so that a file only overwritten shows it.
const std::string kPrevious(500, 'x');

class OutputXmlWriterTest : public ::testing::Test {
 protected:
  // The result of writing `response` to out.xml, which held kPrevious.
  int Write(const std::string& response) {
    WriteFileOrDie(path_, kPrevious);
    AppStatusOperationParams params("");
    params.responseXml = response;
    params.outputXmlPath = path_;
    return OutputXmlWriter(log_).WriteOutputXml(params);
  }

  ScopedTempDir temp_;
  const std::string path_ = temp_.path() + "/out.xml";
  RecordingLog log_;
};

// The lines of a successful write are those of the whole run's log.
TEST_F(OutputXmlWriterTest, ReplacesTheFileWithTheDeclaredDocument) {
  EXPECT_EQ(Write("<response><version></version><a>x</a></response>"), 0);
  EXPECT_EQ(ReadFileOrDie(path_),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?><response><version/><a>x</a></response>");
}

// A bare ampersand fails the parse; text that is not UTF-8 fails before it.
TEST_F(OutputXmlWriterTest, ANonDocumentLeavesTheFileAndSaysSo) {
  for (const char* response : {"<appPath>/A & B.app</appPath>", "<a>\xff</a>"}) {
    EXPECT_EQ(Write(response), 38) << response;
    EXPECT_EQ(ReadFileOrDie(path_), kPrevious) << response;
  }
  EXPECT_EQ(log_.lines(), (std::vector<std::string>{
                              "In write to output XML", "Error occurred while writing to XML",
                              "In write to output XML", "Error occurred while writing to XML"}));
}

}  // namespace
