#include "app/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

int Parse(std::vector<const char*> args, CommandLineOptions* options) {
  args.insert(args.begin(), "skiff");
  return ParseCommandLineOptions(static_cast<int>(args.size()), args.data(), options);
}

TEST(CommandLineTest, TheFourOptionsInAnyOrderAmongOtherArguments) {
  CommandLineOptions options;
  EXPECT_EQ(
      Parse({"-v", "--pipeName=P", "--outputXml=/o", "extra", "--inputXml=/i", "--mode=install"},
            &options),
      4);
  EXPECT_EQ(options.mode, "install");
  EXPECT_EQ(options.inputXml, "/i");
  EXPECT_EQ(options.outputXml, "/o");
  EXPECT_EQ(options.pipeName, "P");
}

TEST(CommandLineTest, RepeatsCountAndTheLastValueWins) {
  CommandLineOptions options;
  EXPECT_EQ(Parse({"--mode=a", "--mode=launchApp", "--inputXml=", "--outputXml=o"}, &options), 4);
  EXPECT_EQ(options.mode, "launchApp");
  EXPECT_EQ(options.inputXml, "");
  EXPECT_EQ(options.pipeName, "");
}

TEST(CommandLineTest, NearMissesAreNotOptions) {
  CommandLineOptions options;
  EXPECT_EQ(
      Parse({"--modex=install", "--Mode=install", "--mode", "-mode=x", "--inputxml=a"}, &options),
      0);
  EXPECT_EQ(options.mode, "");
}

TEST(CommandLineTest, UsageTextIsTheExact112Characters) {
  EXPECT_EQ(std::string(kUsageText).size(), 112u);
}

}  // namespace
