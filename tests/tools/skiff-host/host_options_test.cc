#include "tools/skiff-host/host_options.h"

#include <sys/wait.h>

#include <cstdlib>

#include "gtest/gtest.h"

namespace {

using Arguments = std::vector<std::string>;

TEST(HostOptionsTest, HandsSkiffItsOptionsUnchangedAndInOrder) {
  HostOptions options;
  std::string error;
  ASSERT_TRUE(ParseHostOptions(
      {"--pipeName=p", "--skiff=/opt/skiff", "--mode=getAppStatus",
       "--inputXml=", "--mode=uninstall", "--outputXml=o", "--", "-v", "--never-connect"},
      &options, &error))
      << error;
  EXPECT_EQ(options.skiffArguments,
            (Arguments{"--pipeName=p", "--mode=getAppStatus", "--inputXml=", "--mode=uninstall",
                       "--outputXml=o", "-v", "--never-connect"}));
  EXPECT_EQ(options.skiffPath, "/opt/skiff");
  EXPECT_FALSE(options.neverConnect);
  // Like skiff, the last mode counts.
  EXPECT_TRUE(options.UsesPipes());
}

TEST(HostOptionsTest, UsesThePipesOnlyForInstallAndUninstallWithAName) {
  for (const auto& [arguments, expected] :
       std::vector<std::pair<Arguments, bool>>{{{"--mode=install", "--pipeName=p"}, true},
                                               {{"--mode=uninstall", "--pipeName=p"}, true},
                                               {{"--mode=launchApp", "--pipeName=p"}, false},
                                               {{"--mode=Install", "--pipeName=p"}, false},
                                               {{"--mode=install", "--pipeName="}, false}}) {
    HostOptions options;
    std::string error;
    ASSERT_TRUE(ParseHostOptions(arguments, &options, &error));
    EXPECT_EQ(options.UsesPipes(), expected) << arguments[0] << " " << arguments[1];
  }
}

TEST(HostOptionsTest, RejectsMalformedValuesAndUnknownOptions) {
  for (const char* argument : {"--close-after=", "--close-after=-1", "--send-ids=1,,2",
                               "--send-ids=4294967296", "--answer-late=1s", "--connect-late= 5",
                               "--flood=-1", "--skiff=", "--mode", "install", "--pipename=p"}) {
    HostOptions options;
    std::string error;
    EXPECT_FALSE(ParseHostOptions({argument}, &options, &error)) << argument;
    EXPECT_FALSE(error.empty()) << argument;
  }
}

TEST(HostOptionsTest, TheProgramRefusesAnUnknownOptionWithItsUsage) {
  EXPECT_EQ(std::system(SKIFF_HOST_BINARY " --hurry 2>&1 | grep -q '^Usage: skiff-host'"), 0);
  EXPECT_EQ(WEXITSTATUS(std::system(SKIFF_HOST_BINARY " --hurry >/dev/null 2>&1")), 2);
}

}  // namespace
