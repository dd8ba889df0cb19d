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
  int exitCode;
  // Files (path, contents) written into the root before the run.
  std::vector<std::pair<std::string, std::string>> files = {};
};

// A bad command line is answered with the usage text and 0; a document that
// cannot be read is a failed run (38), whatever else is already on disk.
TEST(BadInputTest, RejectedCommandLinesAndUnreadableDocuments) {
  const std::vector<Case> cases = {
      {{"--mode=getAppStatus", "--inputXml=/tmp/input.xml", "--outputXml=/tmp/o"},
       true,
       {"Unable to Parse command line"},
       0},
      {{"-v", "--mode=getAppStatus", "--inputXml=/tmp/input.xml", "--outputXml=/tmp/o"},
       true,
       {"Num of req params found: 3", "Unable to Parse command line"},
       0},
      {{"--mode=LaunchApp", "--inputXml=/tmp/input.xml", "--outputXml=/tmp/o", "--pipeName=p"},
       true,
       {"Num of req params found: 4", "Unable to Parse command line"},
       0},
      {{"--mode=launchApp", "--inputXml=", "--outputXml=/tmp/o", "--pipeName=p"},
       false,
       {"Num of req params found: 4", "Failure in getapp status and launch op internal",
        "Unable to Parse command line"},
       38},
      {{"--mode=getAppStatus", "--inputXml=/tmp/missing.xml", "--outputXml=/tmp/o.xml",
        "--pipeName=p"},
       false,
       {"Num of req params found: 4", "Failure in getapp status and launch op internal",
        "Unable to Parse command line"},
       38,
       {{"/tmp/o.xml", "<response>old</response>"}}},
      {{"--mode=install", "--inputXml=/tmp/input.xml", "--outputXml=", "--pipeName=p"},
       false,
       {"Num of req params found: 4", "InputXML Path for install op: /tmp/input.xml", "Loaded XML",
        "could not load proxy.xml for install op", "Unable to Parse command line"},
       38,
       {{"/tmp/input.xml",
         "<Deployment><Properties><Property name=\"proxyFile\">/tmp/absent.xml</Property>"
         "</Properties></Deployment>"}}},
      {{"--mode=uninstall", "--inputXml=/tmp/input.xml", "--outputXml=", "--pipeName=p"},
       false,
       {"Num of req params found: 4", "Unable to Parse command line"},
       38,
       {{"/tmp/input.xml",
         "<Deployment><Properties><Property name=\"proxyFile\">/tmp/proxy.xml</Property>"
         "</Properties></Deployment>"},
        {"/tmp/proxy.xml", "<Proxy><InstallDir>"}}},
  };
  for (const Case& c : cases) {
    SkiffRoot root;
    for (const auto& file : c.files) root.WriteFile(file.first, file.second);
    const SkiffResult result = root.RunSkiff(c.arguments);
    const std::string label = ::testing::PrintToString(c.arguments);
    EXPECT_EQ(result.exitCode, c.exitCode) << label << result.Describe();
    EXPECT_EQ(result.stderrText, c.usage ? SkiffRoot::kUsageText : "") << label;
    std::vector<std::string> expected = {"Skiff has launched", "Skiff version=23.3.20269"};
    expected.insert(expected.end(), c.linesAfterVersion.begin(), c.linesAfterVersion.end());
    expected.push_back("Skiff exited with error code: " + std::to_string(c.exitCode));
    EXPECT_EQ(root.LastRunLogLines(), expected) << label;
    // The host reads no answer after a failed run; the user's file stays.
    for (const auto& file : c.files) EXPECT_EQ(root.ReadFile(file.first), file.second) << label;
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
