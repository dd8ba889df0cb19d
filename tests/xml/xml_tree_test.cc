#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/scoped_temp_dir.h"
#include "xml/xml_document.h"
#include "xml/xml_exception.h"

namespace {

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

template <typename Call>
std::string MessageOf(Call call) {
  try {
    call();
  } catch (const XmlException& error) {
    return error.what();
  }
  return "no exception";
}

TEST(XmlNodeTest, EditsAttributesAndChildrenAndMisuseThrowsAndChangesNothing) {
  boost::shared_ptr<XmlDocument> document;
  EXPECT_EQ("Invalid root element name", MessageOf([&] { XmlDocument::Create("", document); }));
  ASSERT_TRUE(XmlDocument::Create("root", document));
  XmlNode root = document->GetRootElement();
  EXPECT_EQ("", root.GetAttribute("missing"));
  root.SetAttribute("", "ignored");
  root.SetAttribute("b", "1");
  root.SetAttribute("b", "2");
  std::map<std::string, std::string> all = {{"stale", "x"}};
  root.GetAttributes(all);
  EXPECT_EQ((std::map<std::string, std::string>{{"b", "2"}}), all);
  EXPECT_FALSE(root.RemoveAttribute("missing"));
  EXPECT_TRUE(root.RemoveAttribute("b"));
  EXPECT_EQ("", root.GetAttribute("b"));
  XmlNode a = root.AppendChild(XmlNode(document.get(), "a"));
  XmlNode grandchild = a.AppendChild(XmlNode(document.get(), "g"));
  XmlNode loose(document.get(), "loose");
  EXPECT_EQ("Attempt to append child node already in DOM", MessageOf([&] { root.AppendChild(a); }));
  EXPECT_EQ("Attempt to remove child node not in DOM", MessageOf([&] { root.RemoveChild(loose); }));
  EXPECT_EQ("Attempt to remove child node from non-parent",
            MessageOf([&] { root.RemoveChild(grandchild); }));
  EXPECT_EQ("Attempt to get parent of node without parent", MessageOf([&] { root.GetParent(); }));
  EXPECT_EQ(a.data(), grandchild.GetParent().data());
  // Once removed it can be appended again, and then comes last.
  root.AppendChild(XmlNode(document.get(), "b"));
  root.AppendChild(root.RemoveChild(a));
  std::vector<XmlNode> children = root.GetChildren();
  ASSERT_EQ(2u, children.size());
  EXPECT_EQ("b", children[0].GetName());
  EXPECT_EQ("a", children[1].GetName());
}

// A handle outliving its document, or its detached subtree, sees an empty
// element.
TEST(XmlNodeTest, TreesAreClearedWhenTheirLastOwnerGoes) {
  boost::shared_ptr<XmlDocument> document;
  ASSERT_TRUE(XmlDocument::LoadFromString("<r><c k='v'>text<g/></c></r>", document));
  XmlNode child = document->GetRootElement().GetChildren()[0];
  XmlNode root = child.GetParent();
  EXPECT_EQ(document->GetRootElement().data(), root.data());
  XmlNode kept(document.get(), "placeholder");
  {
    XmlNode top(document.get(), "top");
    kept = top.AppendChild(XmlNode(document.get(), "inner"));
    kept.AppendChild(XmlNode(document.get(), "leaf"));
    { XmlNode alias = top; }
    EXPECT_EQ("inner", kept.GetName());
  }
  EXPECT_EQ("", kept.GetName());
  EXPECT_TRUE(kept.GetChildren().empty());
  EXPECT_THROW(kept.GetParent(), XmlException);
  document.reset();
  EXPECT_EQ("", child.GetName());
  EXPECT_EQ("", child.GetText());
  EXPECT_EQ("", child.GetAttribute("k"));
  EXPECT_TRUE(child.GetChildren().empty());
  EXPECT_THROW(child.GetParent(), XmlException);
  EXPECT_TRUE(root.GetChildren().empty());
}

class XmlSaveTest : public ::testing::Test {
 protected:
  XmlSaveTest() : path_(dir_.path() + "/out.xml") {
    XmlDocument::Create("r", document_);
    root_ = document_->GetRootElement();
  }
  XmlNode Add(const std::string& name) { return root_.AppendChild(XmlNode(document_.get(), name)); }
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
      names.insert(entry.path().filename().string());
    return names;
  }

  ScopedTempDir dir_;
  std::string path_;
  boost::shared_ptr<XmlDocument> document_;
  XmlNode root_{nullptr, "unset"};
};

// Attributes sorted, empty elements as empty-element tags, loaded text before
// the children; markup and whitespace in texts and values come back as they were.
TEST_F(XmlSaveTest, WritesWhatLoadsBackTheSame) {
  ASSERT_TRUE(XmlDocument::LoadFromString("<r b='2' a='1'>a<empty/>c<attrs z=''/></r>", document_));
  root_ = document_->GetRootElement();
  Add("t").SetText("a<b&c>");
  ASSERT_TRUE(document_->Save(path_, true));
  EXPECT_EQ(
      kDeclaration + "<r a=\"1\" b=\"2\">ac<empty/><attrs z=\"\"/><t>a&#60;b&#38;c&#62;</t></r>",
      ReadFileOrDie(path_));
  const std::string kValues[] = {" & ", "<t a=\"v\">'x'</t>",           "l1\r\nl2\tend", "  ", "\n",
                                 "]]>", "caf\xC3\xA9 \xF0\x9F\x98\x80", "&amp;"};
  XmlDocument::Create("r", document_);
  root_ = document_->GetRootElement();
  for (const std::string& value : kValues) {
    XmlNode node = Add("n");
    node.SetText(value);
    node.SetAttribute("v", value);
  }
  ASSERT_TRUE(document_->Save(path_, true));
  boost::shared_ptr<XmlDocument> loaded;
  ASSERT_TRUE(XmlDocument::LoadFromFile(path_, loaded));
  std::vector<XmlNode> children = loaded->GetRootElement().GetChildren();
  ASSERT_EQ(std::size(kValues), children.size());
  for (size_t i = 0; i < children.size(); ++i) {
    EXPECT_EQ(kValues[i], children[i].GetText());
    EXPECT_EQ(kValues[i], children[i].GetAttribute("v"));
  }
}

// Without overwrite nothing at the path is replaced; with it the file is
// replaced whole, keeping its permissions, or on failure left whole, and no
// temporary file stays behind.
TEST_F(XmlSaveTest, ReplacesWholeOrNotAtAll) {
  WriteFileOrDie(path_, "old");
  ASSERT_EQ(0, chmod(path_.c_str(), 0604));
  ASSERT_EQ(0, symlink("nowhere", (dir_.path() + "/dangling.xml").c_str()));
  MakeDirectoriesOrDie(dir_.path() + "/dir/keep");
  for (const std::string& taken : {path_, path_ + "//", dir_.path() + "/dangling.xml"})
    EXPECT_FALSE(document_->Save(taken, false)) << taken;
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
  EXPECT_FALSE(document_->Save(dir_.path() + "/dir", true));
  EXPECT_EQ("old", ReadFileOrDie(path_));
  EXPECT_EQ((std::set<std::string>{"dangling.xml", "dir", "out.xml"}), Entries());
  root_.RemoveChild(bad);
  ASSERT_TRUE(document_->Save(path_, true));
  EXPECT_EQ(kDeclaration + "<r/>", ReadFileOrDie(path_));
  struct stat info;
  ASSERT_EQ(0, stat(path_.c_str(), &info));
  EXPECT_EQ(0604u, info.st_mode & 07777);
  EXPECT_TRUE(document_->Save(dir_.path() + "/new.xml", false));
}

// Saved, and destroyed held or detached, without recursion.
TEST_F(XmlSaveTest, AMillionDeepTreeIsSavedAndDestroyed) {
  XmlNode node = root_;
  for (int i = 0; i < 1000000; ++i) node = node.AppendChild(XmlNode(document_.get(), "n"));
  XmlNode loose(document_.get(), "loose");
  XmlNode cursor = loose;
  for (int i = 0; i < 1000000; ++i) cursor = cursor.AppendChild(XmlNode(document_.get(), "n"));
  ASSERT_TRUE(document_->Save(path_, false));
  std::string saved = ReadFileOrDie(path_);
  EXPECT_EQ(kDeclaration.size() + 3 + 999999 * 7 + 4 + 4, saved.size());
  EXPECT_EQ("<n/></n></n>", saved.substr(kDeclaration.size() + 3 + 999999 * 3, 12));
  EXPECT_EQ("</n></r>", saved.substr(saved.size() - 8));
  document_.reset();
  root_ = XmlNode(nullptr, "unset");
  EXPECT_EQ("", node.GetName());
  loose = cursor;  // the detached chain loses its last handle at the top
  EXPECT_EQ("", loose.GetName());
}

}  // namespace
