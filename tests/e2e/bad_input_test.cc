// Bad command lines and unreadable documents: the usage text, the log and the
// exit code.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/skiff_root.h"

namespace {

struct Case {
  std::vector<std::string> arguments;
  bool usage;
  std::vector<std::string> linesAfterVersion;
};

TEST(BadInputTest, RejectedCommandLinesEndWithZero) {
  const std::vector<Case> cases = {
      {{"--mode=getAppStatus", "--inputXml=/tmp/input.xml", "--outputXml=/tmp/o"},
       true,
       {"Unable to Parse command line"}},
      {{"-v", "--mode=getAppStatus", "--inputXml=/tmp/input.xml", "--outputXml=/tmp/o"},
       true,
       {"Num of req params found: 3", "Unable to Parse command line"}},
      {{"--mode=LaunchApp", "--inputXml=/tmp/input.xml", "--outputXml=/tmp/o", "--pipeName=p"},
       true,
       {"Num of req params found: 4", "Unable to Parse command line"}},
      {{"--modex=install", "--inputXml=/tmp/input.xml", "--outputXml=/tmp/o", "--pipeName=p"},
       true,
       {"Num of req params found: 3", "Unable to Parse command line"}},
      {{"--mode=launchApp", "--inputXml=", "--outputXml=/tmp/o", "--pipeName=p"},
       false,
       {"Num of req params found: 4", "Failure in getapp status and launch op internal",
        "Unable to Parse command line"}},
      {{"--mode=install", "--inputXml=/tmp/missing.xml", "--outputXml=", "--pipeName=p"},
       false,
       {"Num of req params found: 4", "InputXML Path for install op: /tmp/missing.xml",
        "could not load input.xml for install op", "Unable to Parse command line"}},
  };
  for (const Case& c : cases) {
    SkiffRoot root;
    const SkiffResult result = root.RunSkiff(c.arguments);
    const std::string label = ::testing::PrintToString(c.arguments);
    EXPECT_EQ(result.exitCode, 0) << label << result.Describe();
    EXPECT_EQ(result.stderrText, c.usage ? SkiffRoot::kUsageText : "") << label;
    std::vector<std::string> expected = {"Skiff has launched", "Skiff version=23.3.20269"};
    expected.insert(expected.end(), c.linesAfterVersion.begin(), c.linesAfterVersion.end());
    expected.push_back("Skiff exited with error code: 0");
    EXPECT_EQ(root.LastRunLogLines(), expected) << label;
  }
}

TEST(BadInputTest, ARepeatedModeHidesTheMissingPipeName) {
  SkiffRoot root;
  root.WriteRequest("com.orvane.Folian.Pro_23.0");
  const SkiffResult result = root.RunSkiff({"--mode=install", "--mode=getAppStatus",
                                            "--inputXml=/tmp/input.xml", "--outputXml=/tmp/o.xml"});
  EXPECT_EQ(result.exitCode, 0) << result.Describe();
  EXPECT_NE(root.OutputDocument("/tmp/o.xml"), "");
}

TEST(BadInputTest, AnInputPathThatIsNotUtf8EndsWith38) {
  SkiffRoot root;
  const SkiffResult result = root.RunSkiff(
      {"--mode=launchApp", "--inputXml=/tmp/\xff.xml", "--outputXml=", "--pipeName="});
  EXPECT_EQ(result.exitCode, 38) << result.Describe();
  const auto lines = root.LastRunLogLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "Error thrown and caught in main");
}

}  // namespace
