#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/scoped_temp_dir.h"
#include "xml/xml_document.h"

namespace {

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

std::set<std::string> Entries(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.insert(entry.path().filename().string());
  return names;
}

class XmlSaveTest : public ::testing::Test {
 protected:
  XmlSaveTest() : path_(dir_.path() + "/out.xml") {
    XmlDocument::Create("r", document_);
    root_ = document_->GetRootElement();
  }
  XmlNode Add(const std::string& name) { return root_.AppendChild(XmlNode(document_.get(), name)); }

  ScopedTempDir dir_;
  std::string path_;
  boost::shared_ptr<XmlDocument> document_;
  XmlNode root_{nullptr, "unset"};
};

TEST_F(XmlSaveTest, WritesDeclarationSortedAttributesAndEmptyElementTags) {
  root_.SetAttribute("b", "2");
  root_.SetAttribute("a", "1");
  Add("empty");
  Add("attrs").SetAttribute("z", "");
  Add("t").SetText("a<b&c>");
  ASSERT_TRUE(document_->Save(path_, false));
  EXPECT_EQ(
      kDeclaration + "<r a=\"1\" b=\"2\"><empty/><attrs z=\"\"/><t>a&#60;b&#38;c&#62;</t></r>",
      ReadFileOrDie(path_));
}

TEST_F(XmlSaveTest, LoadedTextComesBeforeChildren) {
  ASSERT_TRUE(XmlDocument::LoadFromString("<x>a<b/>c</x>", document_));
  ASSERT_TRUE(document_->Save(path_, true));
  EXPECT_EQ(kDeclaration + "<x>ac<b/></x>", ReadFileOrDie(path_));
}

TEST_F(XmlSaveTest, MarkupAndWhitespaceSurviveARoundTrip) {
  const std::string kValues[] = {" & ", "<t a=\"v\">'x'</t>",           "l1\r\nl2\tend", "  ", "\n",
                                 "]]>", "caf\xC3\xA9 \xF0\x9F\x98\x80", "&amp;"};
  for (const std::string& value : kValues) {
    XmlNode node = Add("n");
    node.SetText(value);
    node.SetAttribute("v", value);
  }
  ASSERT_TRUE(document_->Save(path_, false));
  boost::shared_ptr<XmlDocument> loaded;
  ASSERT_TRUE(XmlDocument::LoadFromFile(path_, loaded));
  std::vector<XmlNode> children = loaded->GetRootElement().GetChildren();
  ASSERT_EQ(std::size(kValues), children.size());
  for (size_t i = 0; i < children.size(); ++i) {
    EXPECT_EQ(kValues[i], children[i].GetText());
    EXPECT_EQ(kValues[i], children[i].GetAttribute("v"));
  }
}

TEST_F(XmlSaveTest, WithoutOverwriteAnythingAtThePathIsLeftAlone) {
  WriteFileOrDie(path_, "old");
  EXPECT_FALSE(document_->Save(path_, false));
  EXPECT_FALSE(document_->Save(path_ + "//", false));
  const std::string dangling = dir_.path() + "/dangling.xml";
  ASSERT_EQ(0, symlink("nowhere", dangling.c_str()));
  EXPECT_FALSE(document_->Save(dangling, false));
  EXPECT_EQ("old", ReadFileOrDie(path_));
  EXPECT_EQ((std::set<std::string>{"dangling.xml", "out.xml"}), Entries(dir_.path()));
  EXPECT_TRUE(document_->Save(dir_.path() + "/new.xml", false));
}

TEST_F(XmlSaveTest, OverwriteReplacesTheFileAndKeepsItsPermissions) {
  WriteFileOrDie(path_, "old");
  ASSERT_EQ(0, chmod(path_.c_str(), 0604));
  ASSERT_TRUE(document_->Save(path_, true));
  EXPECT_EQ(kDeclaration + "<r/>", ReadFileOrDie(path_));
  struct stat info;
  ASSERT_EQ(0, stat(path_.c_str(), &info));
  EXPECT_EQ(0604u, info.st_mode & 07777);
}

TEST_F(XmlSaveTest, FailedSavesLeaveTheOldFileWholeAndNoTemporaryFiles) {
  WriteFileOrDie(path_, "old contents");
  XmlNode bad = Add("bad");
  bad.SetText("\xC3");
  EXPECT_THROW(document_->Save(path_, true), std::runtime_error);
  bad.SetText("bell \x07");  // no form in XML 1.0
  EXPECT_FALSE(document_->Save(path_, true));
  bad.SetText("");
  bad.SetAttribute(std::string("a\0b", 3), "v");  // cut at the NUL it could clash
  EXPECT_FALSE(document_->Save(path_, true));
  bad.RemoveAttribute(std::string("a\0b", 3));
  // Renaming onto a directory fails after the bytes were written.
  MakeDirectoriesOrDie(dir_.path() + "/dir/keep");
  EXPECT_FALSE(document_->Save(dir_.path() + "/dir", true));
  EXPECT_EQ("old contents", ReadFileOrDie(path_));
  EXPECT_EQ((std::set<std::string>{"dir", "out.xml"}), Entries(dir_.path()));
}

TEST_F(XmlSaveTest, MillionDeepTreeIsSavedWithoutRecursion) {
  XmlNode node = root_;
  for (int i = 0; i < 1000000; ++i) node = node.AppendChild(XmlNode(document_.get(), "n"));
  ASSERT_TRUE(document_->Save(path_, false));
  std::string saved = ReadFileOrDie(path_);
  EXPECT_EQ(kDeclaration.size() + 3 + 999999 * 7 + 4 + 4, saved.size());
  EXPECT_EQ("<n/></n></n>", saved.substr(kDeclaration.size() + 3 + 999999 * 3, 12));
  EXPECT_EQ("</n></r>", saved.substr(saved.size() - 8));
}

}  // namespace
