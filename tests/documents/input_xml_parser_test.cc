#include "documents/input_xml_parser.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <boost/algorithm/string.hpp>
#include <memory>

#include "platform/shell.h"
#include "tests/support/recording_log.h"
#include "tests/support/scoped_temp_dir.h"

namespace {

// The class and fields of parsed parameters, "|"-joined.
std::string Fields(const OperationParams* p) {
  if (p == nullptr) return "none";
  std::string fields = std::to_string(p->progressIntervalSeconds) + "|" + p->outputXmlPath + "|";
  if (auto* l = dynamic_cast<const LaunchOperationParams*>(p)) {
    fields += "launch|" + l->bundleInfo + "|" + l->workflow;
  } else if (auto* s = dynamic_cast<const AppStatusOperationParams*>(p)) {
    fields += "status|" + s->bundleInfo + "|" + s->workflow;
  } else if (auto* i = dynamic_cast<const InstallOperationParams*>(p)) {
    fields += "install|" + i->pkgPath;
  } else if (auto* u = dynamic_cast<const UninstallOperationParams*>(p)) {
    fields += "uninstall|" + u->removerCommand + "|" + u->bundleId;
  }
  return fields;
}

std::string Install(const std::string& sourceFolder, const std::string& proxyPath = "$P") {
  return "<Deployment><Properties><Property name=\"installSourcePath\">" + sourceFolder +
         "</Property><Property name=\"proxyFile\">" + proxyPath +
         "</Property></Properties></Deployment>";
}

std::string UninstallProxy(const std::string& platform, const std::string& removerPath) {
  return "<Proxy><InstallDir><Platform>" + platform +
         "</Platform></InstallDir><ThirdPartyComponent><Metadata><Properties><Property "
         "name=\"path\">" +
         removerPath + "</Property></Properties></Metadata></ThirdPartyComponent></Proxy>";
}

struct ParseRow {
  const char* name;
  const char* mode;    // launch, status, install or uninstall
  std::string input;   // its text, or @missing or @fifo
  std::string proxy;   // the same for the proxy document, whose path is $P
  std::string fields;  // as Fields gives them
  const char* log;     // the lines, "\n"-joined, $I the input's path; or unchecked
};

class InputXmlParserTest : public ::testing::TestWithParam<ParseRow> {
 protected:
  // Puts `what` at `name` in the temporary folder and returns its path.
  std::string Place(const std::string& name, const std::string& what) {
    const std::string path = temp_.path() + "/" + name;
    EXPECT_TRUE(what != "@fifo" || mkfifo(path.c_str(), 0600) == 0);
    if (what[0] != '@') WriteFileOrDie(path, what);
    return path;
  }

  ScopedTempDir temp_;
  RecordingLog log_;
  InputXmlParser parser_{log_};
};

// Whatever stands at a document's path, the parse either builds the
// parameters or ends with 16 and stores nothing, never stalling on a FIFO
// (a folder or a device fails the same regular-file check).
TEST_P(InputXmlParserTest, ParsesTheRowsDocuments) {
  const ParseRow& row = GetParam();
  const std::string proxy = Place("proxy.xml", row.proxy);
  const std::string input = Place("in.xml", boost::replace_first_copy(row.input, "$P", proxy));
  const std::string mode = row.mode;
  OperationParams* params = nullptr;
  const int result = mode == "launch"    ? parser_.ParseLaunchInput(input, params)
                     : mode == "status"  ? parser_.ParseAppStatusInput(input, "/out.xml", params)
                     : mode == "install" ? parser_.ParseInstallInput(input, params)
                                         : parser_.ParseUninstallInput(input, params);
  const std::unique_ptr<OperationParams> owned(params);
  EXPECT_EQ(result, params ? 0 : 16);
  EXPECT_EQ(Fields(params), row.fields);
  const std::string log = boost::join(log_.lines(), "\n");
  EXPECT_TRUE(row.log == nullptr ||
              log == boost::replace_first_copy(std::string(row.log), "$I", input))
      << log;
}

constexpr char kLaunchFailed[] = "Failure in getapp status and launch op internal";
constexpr char kInstallFailed[] =
    "InputXML Path for install op: $I\ncould not load input.xml for install op";
constexpr char kProxyFailed[] =
    "InputXML Path for install op: $I\nLoaded XML\ncould not load proxy.xml for install op";
constexpr char kRemover[] = "/Applications/O\\ F\\ E/R\\ T";

INSTANTIATE_TEST_SUITE_P(
    Rows, InputXmlParserTest,
    ::testing::Values(
        // A missing element reads the root's text, trimmed like any other.
        ParseRow{"LaunchTrimsAndIgnoresABlankWorkflow", "launch",
                 "<r>\n  b, \t\n<workflow>   </workflow></r>", "", "1||launch|b,|",
                 "In getapp status and launch op internal\nBundleInfo list: b,\nBundleID for "
                 "launch from input xml: b,"},
        ParseRow{"StatusKeepsWorkflowAndOutputPath", "status",
                 "<r> up <bundleInfo>b</bundleInfo></r>", "", "1|/out.xml|status|b|up", nullptr},
        ParseRow{"InstallJoinsAndEscapes", "install", Install("/P D"),
                 "<ThirdPartyComponent><Metadata><Name>a b.pkg</Name></Metadata></"
                 "ThirdPartyComponent>",
                 "1||install|/P\\ D/a\\ b.pkg",
                 "InputXML Path for install op: $I\nLoaded XML\nPkg relative path: a b.pkg\nfull "
                 "pkg extracted path for install: /P\\ D/a\\ b.pkg"},
        // The first proxyFile wins; what is missing reads an empty text.
        ParseRow{"InstallWithoutValues", "install",
                 "<D><Properties><Property name=\"proxyFile\">$P</Property><Property "
                 "name=\"proxyFile\">x</Property></Properties></D>",
                 "<P><ThirdPartyComponent/></P>", "1||install|/", nullptr},
        ParseRow{"UninstallComposesTheRemoverCommand", "uninstall",
                 "<Deployment><Properties><Property name=\"proxyFile\">$P</Property><Property "
                 "name=\"bundleInfo\">id</Property></Properties></Deployment>",
                 UninstallProxy("[OrvaneProgramFiles]/O F E", "[INSTALLDIR]/R T"),
                 std::string("1||uninstall|") + kRemover + " " + kRemover +
                     " /Applications/O\\ F\\ E/Orvane\\ "
                     "Folian.app/Contents/Frameworks/Folian.framework/Folian.app|id",
                 "Remover tool path from proxy.xml: /Applications/O F E/R T\nBundle ID for "
                 "uninstall in inputxmlparser: id"},
        // A path shorter than its token is replaced whole by the folder.
        ParseRow{"UninstallCutsTokensByLength", "uninstall", "<D>" + Install("/s") + "</D>",
                 UninstallProxy("XXXXXXXXXXXXXXXXXXXX/Dir", "short"),
                 "1||uninstall|/Applications/Dir /Applications/Dir /Applications/Dir/Orvane\\ "
                 "Folian.app/Contents/Frameworks/Folian.framework/Folian.app|",
                 nullptr},
        ParseRow{"LaunchMissing", "launch", "@missing", "", "none", kLaunchFailed},
        ParseRow{"StatusFifo", "status", "@fifo", "", "none", kLaunchFailed},
        ParseRow{"InstallMalformed", "install", "<r><unclosed></r>", "", "none", kInstallFailed},
        ParseRow{"InstallProxyFifo", "install", Install("/src"), "@fifo", "none", kProxyFailed},
        ParseRow{"UninstallMissing", "uninstall", "@missing", "", "none", ""},
        ParseRow{"UninstallProxyMalformed", "uninstall", Install("/src"), "<r><unclosed></r>",
                 "none", ""}),
    [](const ::testing::TestParamInfo<ParseRow>& info) { return std::string(info.param.name); });

// Blanks become backslash-blank (the install and uninstall rows show it);
// every other character the shell would interpret reaches the command as part
// of one literal word, and the plain ones stay as they are.
TEST(EscapeForShellTest, EveryPathReachesTheShellAsOneLiteralWord) {
  EXPECT_EQ(InputXmlParser::EscapeForShell("/A/a-b_c.d+e:f@g,h/ü"), "/A/a-b_c.d+e:f@g,h/ü");
  const std::string path = "~/$(id)`id`;a&b|c\\it's \"q\"\nline\ttab*?[a-z]{x,y}!#%^=<in>out";
  EXPECT_EQ(CreateShell()->Run("printf '%s|' " + InputXmlParser::EscapeForShell(path)).output,
            path + "|");
}

}  // namespace
