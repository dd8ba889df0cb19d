#include "documents/input_xml_parser.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "tests/support/recording_log.h"
#include "tests/support/scoped_temp_dir.h"

namespace {

class InputXmlParserTest : public ::testing::Test {
 protected:
  InputXmlParserTest() : parser_(log_) {}

  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = temp_.path() + "/" + name;
    WriteFileOrDie(path, text);
    return path;
  }

  template <typename T>
  std::unique_ptr<T> Take(OperationParams* params) {
    return std::unique_ptr<T>(static_cast<T*>(params));
  }

  ScopedTempDir temp_;
  RecordingLog log_;
  InputXmlParser parser_;
};

std::string InstallInput(const std::string& sourceFolder, const std::string& proxyPath) {
  return "<Deployment><Properties>"
         "<Property name=\"installSourcePath\">" +
         sourceFolder +
         "</Property>"
         "<Property name=\"proxyFile\">" +
         proxyPath +
         "</Property>"
         "</Properties></Deployment>";
}

std::string UninstallProxy(const std::string& platform, const std::string& removerPath) {
  return "<Proxy><InstallDir><Platform>" + platform +
         "</Platform></InstallDir>"
         "<ThirdPartyComponent><Metadata><Properties>"
         "<Property name=\"path\">" +
         removerPath +
         "</Property>"
         "</Properties></Metadata></ThirdPartyComponent></Proxy>";
}

TEST_F(InputXmlParserTest, LaunchInputTrimsBundleInfoAndIgnoresABlankWorkflow) {
  const std::string input =
      Write("in.xml",
            "<request><bundleInfo>\n  com.orvane.Folian.Pro_23.0, \t\n</bundleInfo>"
            "<workflow>   </workflow></request>");
  OperationParams* params = nullptr;
  ASSERT_EQ(parser_.ParseLaunchInput(input, params), 0);
  auto launch = Take<LaunchOperationParams>(params);
  EXPECT_EQ(launch->bundleInfo, "com.orvane.Folian.Pro_23.0,");
  EXPECT_EQ(launch->workflow, "");
  EXPECT_EQ(launch->progressIntervalSeconds, 1);
  EXPECT_EQ(log_.lines(), (std::vector<std::string>{
                              "In getapp status and launch op internal",
                              "BundleInfo list: com.orvane.Folian.Pro_23.0,",
                              "BundleID for launch from input xml: com.orvane.Folian.Pro_23.0,"}));
}

TEST_F(InputXmlParserTest, StatusInputKeepsWorkflowAndOutputPath) {
  const std::string input = Write(
      "in.xml",
      "<r><workflow> upsell </workflow><bundleInfo>com.orvane.Folian.Pro_23.0</bundleInfo></r>");
  OperationParams* params = nullptr;
  ASSERT_EQ(parser_.ParseAppStatusInput(input, "/out/put.xml", params), 0);
  auto status = Take<AppStatusOperationParams>(params);
  EXPECT_EQ(status->workflow, "upsell");
  EXPECT_EQ(status->outputXmlPath, "/out/put.xml");
  const auto messages = log_.lines();
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[2], "Recieved workflow id as : upsell");
  EXPECT_EQ(messages[3],
            "BundleInfo list for Appstatus from input xml: com.orvane.Folian.Pro_23.0");
}

TEST_F(InputXmlParserTest, AMissingElementReadsTheRootsOwnText) {
  const std::string input = Write("in.xml", "<r>root text<other/></r>");
  OperationParams* params = nullptr;
  ASSERT_EQ(parser_.ParseLaunchInput(input, params), 0);
  auto launch = Take<LaunchOperationParams>(params);
  EXPECT_EQ(launch->bundleInfo, "root text");
  EXPECT_EQ(launch->workflow, "root text");
}

struct UnreadableCase {
  const char* mode;  // "launch", "status", "install" or "uninstall"
  bool atProxy;      // the proxy document is the bad one, not the input
  const char* what;  // a device path, or what MakeUnreadable puts in the folder
};

class UnreadableDocumentTest : public InputXmlParserTest,
                               public ::testing::WithParamInterface<UnreadableCase> {
 protected:
  std::string MakeUnreadable(const std::string& what) {
    if (what[0] == '/') return what;
    const std::string path = temp_.path() + "/" + what;
    if (what == "fifo" && mkfifo(path.c_str(), 0600) != 0) ADD_FAILURE() << "mkfifo " << path;
    if (what == "folder") MakeDirectoriesOrDie(path);
    if (what == "malformed.xml") WriteFileOrDie(path, "<r><unclosed></r>");
    return path;
  }
};

// Whatever stands at a document's path, the parse ends with 16 and the
// parser's own failure line instead of stalling on a FIFO or a device.
TEST_P(UnreadableDocumentTest, FailsWithSixteenAndStoresNothing) {
  const UnreadableCase& c = GetParam();
  const std::string mode = c.mode;
  const std::string bad = MakeUnreadable(c.what);
  const std::string input = c.atProxy ? Write("in.xml", InstallInput("/src", bad)) : bad;
  OperationParams* params = nullptr;
  std::vector<std::string> expected;
  if (mode == "install") {
    EXPECT_EQ(parser_.ParseInstallInput(input, params), 16);
    expected = {"InputXML Path for install op: " + input};
    if (c.atProxy) expected.push_back("Loaded XML");
    expected.push_back(c.atProxy ? "could not load proxy.xml for install op"
                                 : "could not load input.xml for install op");
  } else if (mode == "uninstall") {
    EXPECT_EQ(parser_.ParseUninstallInput(input, params), 16);
  } else {
    EXPECT_EQ(mode == "launch" ? parser_.ParseLaunchInput(input, params)
                               : parser_.ParseAppStatusInput(input, "o", params),
              16);
    expected = {"Failure in getapp status and launch op internal"};
  }
  EXPECT_EQ(params, nullptr);
  EXPECT_EQ(log_.lines(), expected);
}

const UnreadableCase kUnreadableCases[] = {
    {"launch", false, "missing.xml"},    {"launch", false, "fifo"},
    {"launch", false, "/dev/tty"},       {"status", false, "malformed.xml"},
    {"status", false, "fifo"},           {"status", false, "/dev/zero"},
    {"install", false, "malformed.xml"}, {"install", false, "fifo"},
    {"install", false, "folder"},        {"install", true, "fifo"},
    {"uninstall", false, "fifo"},        {"uninstall", true, "missing.xml"},
    {"uninstall", true, "fifo"},         {"uninstall", true, "/dev/zero"}};
INSTANTIATE_TEST_SUITE_P(EveryDocument, UnreadableDocumentTest,
                         ::testing::ValuesIn(kUnreadableCases));

TEST_F(InputXmlParserTest, InstallJoinsFolderAndNameAndEscapesBlanks) {
  const std::string proxy = Write("proxy.xml",
                                  "<ThirdPartyComponent><Metadata><Name>Folian "
                                  "Installer.pkg</Name></Metadata></ThirdPartyComponent>");
  const std::string input = Write("in.xml", InstallInput("/tmp/Pkg Dir", proxy));
  OperationParams* params = nullptr;
  ASSERT_EQ(parser_.ParseInstallInput(input, params), 0);
  EXPECT_EQ(Take<InstallOperationParams>(params)->pkgPath, "/tmp/Pkg\\ Dir/Folian\\ Installer.pkg");
  const auto messages = log_.lines();
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[1], "Loaded XML");
  EXPECT_EQ(messages[2], "Pkg relative path: Folian Installer.pkg");
  EXPECT_EQ(messages[3],
            "full pkg extracted path for install: /tmp/Pkg\\ Dir/Folian\\ Installer.pkg");
}

TEST_F(InputXmlParserTest, WrappedAndBareDeploymentReadAlike) {
  const std::string proxy = Write(
      "proxy.xml",
      "<P><ThirdPartyComponent><Metadata><Name>a.pkg</Name></Metadata></ThirdPartyComponent></P>");
  const std::string bare = Write("bare.xml", InstallInput("/src/", proxy));
  const std::string wrapped =
      Write("wrapped.xml", "<Root>" + InstallInput("/src/", proxy) + "</Root>");
  OperationParams* first = nullptr;
  OperationParams* second = nullptr;
  ASSERT_EQ(parser_.ParseInstallInput(bare, first), 0);
  ASSERT_EQ(parser_.ParseInstallInput(wrapped, second), 0);
  EXPECT_EQ(Take<InstallOperationParams>(first)->pkgPath, "/src//a.pkg");
  EXPECT_EQ(Take<InstallOperationParams>(second)->pkgPath, "/src//a.pkg");
}

TEST_F(InputXmlParserTest, InstallWithoutPropertiesFallsBackToTheRootText) {
  const std::string proxy = Write("proxy.xml", "<P><ThirdPartyComponent/></P>");
  const std::string input = Write(
      "in.xml",
      "<Deployment><Properties><Property name=\"proxyFile\">" + proxy +
          "</Property><Property name=\"proxyFile\">second</Property></Properties></Deployment>");
  OperationParams* params = nullptr;
  ASSERT_EQ(parser_.ParseInstallInput(input, params), 0);
  // The first proxyFile property wins; the missing source folder and name read
  // the texts of the nodes the walk stopped at, which are empty.
  EXPECT_EQ(Take<InstallOperationParams>(params)->pkgPath, "/");
}

TEST_F(InputXmlParserTest, UninstallComposesTheRemoverCommand) {
  const std::string proxy =
      Write("proxy.xml",
            UninstallProxy(
                "[OrvaneProgramFiles]/Orvane Folian Evergreen",
                "[INSTALLDIR]/Orvane Folian.app/Contents/Helpers/Folian Uninstaller.app/Contents/"
                "Library/LaunchServices/com.orvane.Folian.RemoverTool"));
  const std::string input = Write(
      "in.xml", "<Deployment><Properties><Property name=\"proxyFile\">" + proxy +
                    "</Property><Property name=\"bundleInfo\">com.orvane.Folian.Pro</Property>"
                    "</Properties></Deployment>");
  OperationParams* params = nullptr;
  ASSERT_EQ(parser_.ParseUninstallInput(input, params), 0);
  auto uninstall = Take<UninstallOperationParams>(params);
  const std::string remover =
      "/Applications/Orvane\\ Folian\\ Evergreen/Orvane\\ Folian.app/Contents/Helpers/"
      "Folian\\ Uninstaller.app/Contents/Library/LaunchServices/com.orvane.Folian.RemoverTool";
  EXPECT_EQ(
      uninstall->removerCommand,
      remover + " " + remover +
          " /Applications/Orvane\\ Folian\\ Evergreen/Orvane\\ Folian.app/Contents/Frameworks/"
          "Folian.framework/Folian.app");
  EXPECT_EQ(uninstall->bundleId, "com.orvane.Folian.Pro");
  const auto messages = log_.lines();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0],
            "Remover tool path from proxy.xml: /Applications/Orvane Folian Evergreen/Orvane "
            "Folian.app/Contents/Helpers/Folian Uninstaller.app/Contents/Library/LaunchServices/"
            "com.orvane.Folian.RemoverTool");
  EXPECT_EQ(messages[1], "Bundle ID for uninstall in inputxmlparser: com.orvane.Folian.Pro");
}

TEST_F(InputXmlParserTest, UninstallTokensAreCutByLengthWithoutATest) {
  const std::string proxy = Write("proxy.xml", UninstallProxy("XXXXXXXXXXXXXXXXXXXX/Dir", "short"));
  const std::string input =
      Write("in.xml", "<D><Deployment><Properties><Property name=\"proxyFile\">" + proxy +
                          "</Property></Properties></Deployment></D>");
  OperationParams* params = nullptr;
  ASSERT_EQ(parser_.ParseUninstallInput(input, params), 0);
  auto uninstall = Take<UninstallOperationParams>(params);
  // A path shorter than its token is replaced whole by the folder.
  EXPECT_EQ(uninstall->removerCommand,
            "/Applications/Dir /Applications/Dir /Applications/Dir/Orvane\\ "
            "Folian.app/Contents/Frameworks/Folian.framework/Folian.app");
  EXPECT_EQ(uninstall->bundleId, "");
}

// Runs `word` through the shell and returns what the shell made of it.
std::string ShellEcho(const std::string& word) {
  const std::string command = "printf '%s|' " + word;
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  char buffer[256];
  for (size_t n; (n = fread(buffer, 1, sizeof(buffer), pipe)) > 0;) out.append(buffer, n);
  pclose(pipe);
  return out;
}

TEST(EscapeForShellTest, BlanksBecomeBackslashBlankAndPlainPathsStayAsTheyAre) {
  EXPECT_EQ(InputXmlParser::EscapeForShell("/tmp/Pkg Dir/Folian Installer.pkg"),
            "/tmp/Pkg\\ Dir/Folian\\ Installer.pkg");
  EXPECT_EQ(InputXmlParser::EscapeForShell("/Applications/a-b_c.d+e:f@g,h/ü"),
            "/Applications/a-b_c.d+e:f@g,h/ü");
}

TEST(EscapeForShellTest, EveryShellCharacterReachesTheCommandAsOneLiteralWord) {
  ScopedTempDir temp;
  const std::string marker = temp.path() + "/pwned";
  const std::vector<std::string> hostile = {
      "/src/$(touch " + marker + ")/a.pkg",
      "/src/`touch " + marker + "`",
      "/src/a;touch " + marker,
      "/src/a&touch " + marker + "&",
      "/src/a|touch " + marker,
      "/src/it's \"quoted\" \\ back\\slash",
      "/src/line\nbreak\ttab",
      "/src/*?[a-z]{x,y}~!#%^=<in>out",
      "~/start",
      "-n",
  };
  for (const std::string& path : hostile) {
    EXPECT_EQ(ShellEcho(InputXmlParser::EscapeForShell(path)), path + "|") << path;
  }
  EXPECT_FALSE(PathExists(marker));
}

}  // namespace
