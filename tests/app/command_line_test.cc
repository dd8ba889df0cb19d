#include "app/command_line.h"

#include <gtest/gtest.h>

namespace {

// Only the exact prefixes count and store, each time they appear: the last
// value wins and may be empty.
TEST(CommandLineTest, CountsTheExactPrefixesAndKeepsTheLastValueOfEach) {
  const char* const argv[] = {"skiff",       "--mode=a",      "--modex=install", "--Mode=install",
                              "--mode",      "-mode=x",       "--inputxml=a",    "--mode=launchApp",
                              "--inputXml=", "--outputXml=o", "--pipeName=P"};
  CommandLineOptions o;
  EXPECT_EQ(ParseCommandLineOptions(11, argv, &o), 5);
  EXPECT_EQ(o.mode + "|" + o.inputXml + "|" + o.outputXml + "|" + o.pipeName, "launchApp||o|P");
}

}  // namespace
