// The skiff binary's command line seen from outside: the usage text on
// standard error, the exit code and the whole log of each rejected run.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/skiff_root.h"

namespace {

constexpr char kUsageText[] =
    "Usage string: <path-to-exe> --mode=<launch-mode> --inputXml=<path-to-input-xml> "
    "--outputXml=<path-to-output-xml>";
constexpr char kOld[] = "<response>old</response>";
constexpr char kFour[] = "Num of req params found: 4";
constexpr char kUnable[] = "Unable to Parse command line";
constexpr char kNoDocument[] = "Failure in getapp status and launch op internal";

struct Case {
  std::string arguments;  // split at blanks
  int exitCode;           // 0 comes with the usage text
  Lines linesAfterVersion;
};

Case Row(std::string arguments, int exitCode, Lines linesAfterVersion) {
  return {std::move(arguments), exitCode, std::move(linesAfterVersion)};
}

// A bad command line is answered with the usage text and 0; a document that
// cannot be read is a failed run (38), and an answer left at --outputXml by
// an earlier run stays as it was. A repeated option counts again, so a
// missing one can go unnoticed: the last mode runs.
TEST(CommandLineTest, RejectedCommandLinesAndUnreadableDocuments) {
  for (const Case& c : {
           Row("", 0, {kUnable}),
           Row("--mode=getAppStatus --inputXml=/i --outputXml=/o", 0, {kUnable}),
           Row("-v --mode=getAppStatus --inputXml=/i --outputXml=/o", 0,
               {"Num of req params found: 3", kUnable}),
           Row("--mode=LaunchApp --inputXml=/i --outputXml=/o --pipeName=p", 0, {kFour, kUnable}),
           Row("--mode=launchApp --inputXml= --outputXml=/o --pipeName=p", 38,
               {kFour, kNoDocument, kUnable}),
           Row("--mode=install --mode=getAppStatus --inputXml=/i --outputXml=/tmp/output.xml", 38,
               {kFour, kNoDocument, kUnable}),
           Row("--mode=launchApp --inputXml=/tmp/\xff.xml --outputXml= --pipeName=", 38,
               {kFour, "Error thrown and caught in main"}),
       }) {
    SkiffRoot root;
    root.WriteFile(SkiffRoot::kOutputPath, kOld);
    Lines arguments;
    std::istringstream words(c.arguments);
    for (std::string word; words >> word;) arguments.push_back(word);
    const SkiffResult result = root.RunSkiff(arguments);
    EXPECT_EQ(result.exitCode, c.exitCode) << c.arguments << result.Describe();
    EXPECT_EQ(result.stderrText, c.exitCode == 0 ? kUsageText : "") << c.arguments;
    EXPECT_EQ(result.stdoutText, "") << c.arguments;
    Lines expected = {"Skiff has launched", "Skiff version=23.3.20269"};
    expected.insert(expected.end(), c.linesAfterVersion.begin(), c.linesAfterVersion.end());
    expected.push_back("Skiff exited with error code: " + std::to_string(c.exitCode));
    EXPECT_EQ(root.LastRunLogLines(), expected) << c.arguments;
    EXPECT_EQ(root.ReadFile(SkiffRoot::kOutputPath), kOld) << c.arguments;
  }
}

}  // namespace
