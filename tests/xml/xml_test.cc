#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/scoped_temp_dir.h"
#include "xml/xml_document.h"
#include "xml/xml_exception.h"
#include "xml/xml_loader.h"

namespace {

std::string Repeat(const std::string& text, int times) {
  std::string result;
  while (times-- > 0) result += text;
  return result;
}

// A tree as name{attribute=value;}(text)[children], the parts present only
// when not empty.
std::string Show(const XmlNode& node) {
  std::map<std::string, std::string> attributes;
  node.GetAttributes(attributes);
  std::string shown = node.GetName();
  for (const auto& [name, value] : attributes) shown += "{" + name + "=" + value + "}";
  shown += "(" + node.GetText() + ")";
  const std::vector<XmlNode> children = node.GetChildren();
  if (!children.empty()) shown += "[";
  for (const XmlNode& child : children) shown += Show(child);
  return children.empty() ? shown : shown + "]";
}

// Text is joined around children; runs of literal whitespace are dropped,
// other runs keep their blanks; entities other than the predefined five
// give nothing and no external entity or document type is ever read.
TEST(XmlLoadTest, BuildsTheTreeWithoutExpandingOrReadingEntities) {
  ScopedTempDir dir;
  WriteFileOrDie(dir.path() + "/secret.txt", "SECRET");
  WriteFileOrDie(dir.path() + "/ext.dtd", "<!ENTITY fromdtd 'SECRET'>");
  std::string bomb = "<!DOCTYPE x [<!ENTITY l0 'lol'>";
  for (int level = 1; level <= 12; ++level)
    bomb += "<!ENTITY l" + std::to_string(level) + " '" +
            Repeat("&l" + std::to_string(level - 1) + ";", 10) + "'>";
  const std::pair<std::string, std::string> kRows[] = {
      {"<?xml version='1.0'?><!-- c --><?pi x?><ns:x a:b='1'>a<ns:b/>c</ns:x>",
       "ns:x{a:b=1}(ac)[ns:b()]"},
      {"<x>\n\t<a>  v  </a>\r\n  <b>\n</b>\n</x>", "x()[a(  v  )b()]"},
      {"<x>  &amp;  </x>", "x(&)"},
      {"<x>a<!-- c --> b<?pi d?> </x>", "x(a b)"},
      {"<x>&#32;</x>", "x( )"},
      {"<x>a<![CDATA[ <b>&amp; ]] ]]>c</x>", "x(a <b>&amp; ]] c)"},
      {"<x><![CDATA[  ]]></x>", "x(  )"},
      {"<x>&lt;&amp;&gt;&quot;&apos;</x>", "x(<&>\"')"},
      {"<x>a&undeclared;b</x>", "x(ab)"},
      {"<!DOCTYPE x [<!ENTITY e 'EXPANDED'>]><x k='v'>1&e;2<y>&e;</y></x>", "x{k=v}(12)[y()]"},
      {bomb + "]><x>a&l12;b</x>", "x(ab)"},
      {"<!DOCTYPE x SYSTEM 'file://" + dir.path() + "/ext.dtd' [<!ENTITY s SYSTEM 'file://" +
           dir.path() + "/secret.txt'><!ENTITY p SYSTEM 'file:///etc/passwd'>]>" +
           "<x>&s;&p;&fromdtd;ok</x>",
       "x(ok)"},
  };
  const auto start = std::chrono::steady_clock::now();
  for (const auto& [text, tree] : kRows) {
    boost::shared_ptr<XmlDocument> document;
    ASSERT_TRUE(XmlDocument::LoadFromString(text, document)) << text;
    EXPECT_EQ(Show(document->GetRootElement()), tree);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

// Deep nesting, elements with their attributes, and kept text (names, values,
// character data, CDATA; not layout) are each bounded; a document over a bound
// fails like a malformed one, and the document held before stays. Rows
// without bounds (0) have the production ones.
TEST(XmlLoadTest, MalformedDocumentsAndDocumentsOverABoundFailCleanly) {
  const std::string deep = Repeat("<a>", 1000000) + Repeat("</a>", 1000000);
  const std::string longText(32 * 1024 * 1024 - 1, 't');
  const std::tuple<std::string, size_t, size_t, bool> kRows[] = {
      // text, bounds, loads
      {deep, 0, 0, false},
      {Repeat("<a>", 10000) + Repeat("</a>", 10000), 0, 0, true},
      {Repeat("<a>", 10001) + Repeat("</a>", 10001), 0, 0, false},
      {"<r>" + Repeat("<a/>", 999999) + "</r>", 0, 0, true},
      {"<r>" + Repeat("<a/>", 1000000) + "</r>", 0, 0, false},
      {"<r>" + longText + "</r>", 0, 0, true},
      {"<r>" + longText + "t</r>", 0, 0, false},
      {"<r><a/><b/></r>", 3, 10, true},
      {"<r><a/><b/></r>", 2, 10, false},
      {"<r a='1' b='2'/>", 2, 10, false},
      {"<r ab='cd'/>", 2, 5, true},
      {"<r ab='cd'/>", 2, 4, false},
      {"<r>ab&amp;c</r>", 1, 5, true},
      {"<r>ab&amp;c</r>", 1, 4, false},
      {"<r><![CDATA[abcd]]></r>", 1, 4, false},
      {"<r> <a/>\n</r>", 2, 2, true},
      {"<x><y></x>", 0, 0, false},
      {"<x>", 0, 0, false},
      {"", 0, 0, false},
      {"<x/><y/>", 0, 0, false},
      {std::string("<x/>\0", 5), 0, 0, false},
  };
  boost::shared_ptr<XmlDocument> held;
  ASSERT_TRUE(XmlDocument::Create("held", held));
  for (const auto& [text, maxNodes, maxContentBytes, loads] : kRows) {
    boost::shared_ptr<XmlDocument> document = held;
    const XmlLoadLimits limits =
        maxNodes == 0 ? XmlLoadLimits() : XmlLoadLimits{maxNodes, maxContentBytes};
    EXPECT_EQ(XmlLoader::Parse(text.data(), text.size(), document, limits), loads)
        << text.substr(0, 40) << " " << maxNodes << " " << maxContentBytes;
    EXPECT_EQ(document != held, loads) << text.substr(0, 40);
  }
  EXPECT_THROW(XmlDocument::LoadFromString("<x>\xC3</x>", held), std::runtime_error);
  EXPECT_THROW(XmlDocument::LoadFromFile("/tmp/\xFF.xml", held), std::runtime_error);
  EXPECT_EQ(held->GetRootElement().GetName(), "held");
}

TEST(XmlLoadTest, ReadsFilesAndRefusesWhatIsNotASmallRegularFile) {
  ScopedTempDir dir;
  const std::string path = dir.path() + "/doc.xml";
  // UTF-16: references are still told apart from character data.
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("<x> &amp; &#32;</x>")) utf16 += std::string(1, c) + '\0';
  WriteFileOrDie(path, utf16);
  boost::shared_ptr<XmlDocument> document;
  ASSERT_TRUE(XmlDocument::LoadFromFile(path, document));
  EXPECT_EQ("&  ", document->GetRootElement().GetText());
  WriteFileOrDie(path, "<x><!--" + std::string(64 * 1024 * 1024 - 14, ' ') + "--></x>");
  EXPECT_TRUE(XmlDocument::LoadFromFile(path, document));
  document.reset();
  WriteFileOrDie(path, "<x>" + std::string(64 * 1024 * 1024 - 6, ' ') + "</x>");
  EXPECT_FALSE(XmlDocument::LoadFromFile(path, document));
  EXPECT_FALSE(XmlDocument::LoadFromFile(dir.path(), document));
  EXPECT_FALSE(document);
}

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
  EXPECT_EQ(Show(root), "root()[b()a()[g()]]");
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
  EXPECT_EQ(Show(kept), "()");
  EXPECT_THROW(kept.GetParent(), XmlException);
  document.reset();
  EXPECT_EQ(Show(child), "()");
  EXPECT_EQ("", child.GetAttribute("k"));
  EXPECT_THROW(child.GetParent(), XmlException);
  EXPECT_EQ(Show(root), "()");
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
