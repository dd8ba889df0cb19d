#include "app/command_line.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

TEST(CommandLineTest, CountsTheOptionsAndKeepsTheLastValueOfEach) {
  const struct {
    const char* args;
    int count;
    const char* values;  // mode|input|output|pipe
  } rows[] = {
      {"-v --pipeName=P --outputXml=/o extra --inputXml=/i --mode=install", 4, "install|/i|/o|P"},
      {"--mode=a --mode=launchApp --inputXml= --outputXml=o", 4, "launchApp||o|"},
      {"--modex=install --Mode=install --mode -mode=x --inputxml=a", 0, "|||"},
  };
  for (const auto& row : rows) {
    std::vector<std::string> words;
    std::istringstream in(row.args);
    for (std::string word; in >> word;) words.push_back(word);
    std::vector<const char*> argv = {"skiff"};
    for (const std::string& word : words) argv.push_back(word.c_str());
    CommandLineOptions o;
    EXPECT_EQ(ParseCommandLineOptions(static_cast<int>(argv.size()), argv.data(), &o), row.count);
    EXPECT_EQ(o.mode + "|" + o.inputXml + "|" + o.outputXml + "|" + o.pipeName, row.values);
  }
}

}  // namespace
