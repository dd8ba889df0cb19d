#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/scoped_temp_dir.h"
#include "xml/xml_document.h"
#include "xml/xml_exception.h"
#include "xml/xml_loader.h"

namespace {

using ::testing::ThrowsMessage;

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
  std::string children;
  for (const XmlNode& child : node.GetChildren()) children += Show(child);
  return children.empty() ? shown : shown + "[" + children + "]";
}

struct LoadRow {
  std::string text;
  // The tree loaded; "" for a load that fails and keeps the document held
  // before, "*" for a tree too large to show.
  std::string tree;
  XmlLoadLimits limits = XmlLoadLimits();
};

// Text is joined around children; runs of literal whitespace are dropped,
// other runs keep their blanks; entities other than the predefined five give
// nothing and no external entity or document type is ever read. Deep nesting,
// elements with their attributes, and kept text (names, values, character
// data, CDATA; not layout) are each bounded; a document over a bound fails
// like a malformed one.
TEST(XmlLoadTest, BuildsTheTreeWithinTheBoundsWithoutExpandingOrReadingEntities) {
  ScopedTempDir dir;
  WriteFileOrDie(dir.path() + "/secret.txt", "SECRET");
  WriteFileOrDie(dir.path() + "/ext.dtd", "<!ENTITY fromdtd 'SECRET'>");
  std::string bomb = "<!DOCTYPE x [<!ENTITY l0 'lol'>";
  for (int level = 1; level <= 12; ++level)
    bomb += "<!ENTITY l" + std::to_string(level) + " '" +
            Repeat("&l" + std::to_string(level - 1) + ";", 10) + "'>";
  // UTF-16: references are still told apart from character data.
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("<x> &amp; &#32;</x>")) utf16 += std::string(1, c) + '\0';
  const LoadRow kRows[] = {
      {"<?xml version='1.0'?><!-- c --><?pi x?><ns:x a:b='1'>a<ns:b/>c</ns:x>",
       "ns:x{a:b=1}(ac)[ns:b()]"},
      {"<x>\n\t<a>  v  </a>\r\n<b>\n</b>a<!-- c --> b<?pi d?>  &amp;  </x>",
       "x(a b&)[a(  v  )b()]"},
      {"<x>&lt;&amp;&gt;&quot;&apos;&undeclared;&#32;</x>", "x(<&>\"' )"},
      {"<x>a<![CDATA[ <b>&amp; ]] ]]>c<![CDATA[  ]]></x>", "x(a <b>&amp; ]] c  )"},
      {utf16, "x(&  )"},
      {bomb + "]><x k='v'>a&l12;b</x>", "x{k=v}(ab)"},
      {"<!DOCTYPE x SYSTEM 'file://" + dir.path() + "/ext.dtd' [<!ENTITY s SYSTEM 'file://" +
           dir.path() + "/secret.txt'>]><x>&s;&fromdtd;ok</x>",
       "x(ok)"},
      {Repeat("<a>", 10000) + Repeat("</a>", 10000), "*"},
      {Repeat("<a>", 10001) + Repeat("</a>", 10001), ""},
      {"<r>" + Repeat("<a/>", 999999) + "</r>", "*"},
      {"<r>" + Repeat("<a/>", 1000000) + "</r>", ""},
      {"<r>" + std::string(32 * 1024 * 1024 - 1, 't') + "</r>", "*"},
      {"<r>" + std::string(32 * 1024 * 1024, 't') + "</r>", ""},
      {"<r a='1' b='2'/>", "", {2, 10}},
      {"<r ab='cd'/>", "r{ab=cd}()", {2, 5}},
      {"<r ab='cd'/>", "", {2, 4}},
      {"<r><![CDATA[abcd]]></r>", "", {1, 4}},
      {"<r> <a/>\n</r>", "r()[a()]", {2, 2}},
      {"<x>", ""},
      {std::string("<x/>\0", 5), ""},
  };
  boost::shared_ptr<XmlDocument> held;
  ASSERT_TRUE(XmlDocument::Create("held", held));
  for (const LoadRow& row : kRows) {
    boost::shared_ptr<XmlDocument> document = held;
    EXPECT_EQ(XmlLoader::Parse(row.text.data(), row.text.size(), document, row.limits),
              !row.tree.empty())
        << row.text.substr(0, 40);
    if (row.tree != "*") {
      EXPECT_EQ(Show(document->GetRootElement()), row.tree.empty() ? "held()" : row.tree);
    }
  }
  EXPECT_THROW(XmlDocument::LoadFromString("<x>\xC3</x>", held), std::runtime_error);
  EXPECT_THROW(XmlDocument::LoadFromFile("/tmp/\xFF.xml", held), std::runtime_error);
  // Files: only a regular one of at most 64 MiB is read.
  const std::string path = dir.path() + "/doc.xml";
  WriteFileOrDie(path, "<x>" + std::string(64 * 1024 * 1024 - 6, ' ') + "</x>");
  EXPECT_FALSE(XmlDocument::LoadFromFile(path, held));
  EXPECT_FALSE(XmlDocument::LoadFromFile(dir.path(), held));
  WriteFileOrDie(path, "<x><!--" + std::string(64 * 1024 * 1024 - 14, ' ') + "--></x>");
  EXPECT_TRUE(XmlDocument::LoadFromFile(path, held));
}

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

// Misuse throws and changes nothing; a handle outliving its document, or its
// detached subtree, sees an empty element.
TEST(XmlNodeTest, EditsTheTreeAndClearsItWhenTheLastOwnerGoes) {
  boost::shared_ptr<XmlDocument> document;
  ASSERT_TRUE(XmlDocument::LoadFromString("<root><c k='v'>text<g/></c></root>", document));
  XmlNode root = document->GetRootElement();
  EXPECT_EQ("", root.GetAttribute("missing"));
  root.SetAttribute("", "ignored");
  root.SetAttribute("b", "1");
  root.SetAttribute("b", "2");
  EXPECT_FALSE(root.RemoveAttribute("missing"));
  XmlNode child = root.GetChildren()[0];
  EXPECT_TRUE(child.RemoveAttribute("k"));
  XmlNode grandchild = child.GetChildren()[0];
  EXPECT_EQ(root.data(), child.GetParent().data());
  XmlNode loose(document.get(), "loose");
  const std::pair<std::function<void()>, const char*> kMisuse[] = {
      {[&] { XmlDocument::Create("", document); }, "Invalid root element name"},
      {[&] { root.AppendChild(child); }, "Attempt to append child node already in DOM"},
      {[&] { root.RemoveChild(loose); }, "Attempt to remove child node not in DOM"},
      {[&] { root.RemoveChild(grandchild); }, "Attempt to remove child node from non-parent"},
      {[&] { root.GetParent(); }, "Attempt to get parent of node without parent"},
  };
  for (const auto& [call, message] : kMisuse)
    EXPECT_THAT(call, ThrowsMessage<XmlException>(message));
  // Once removed it can be appended again, and then comes last.
  root.AppendChild(XmlNode(document.get(), "b"));
  root.AppendChild(root.RemoveChild(child));
  EXPECT_EQ(Show(root), "root{b=2}()[b()c(text)[g()]]");
  std::optional<XmlNode> top(std::in_place, document.get(), "top");
  XmlNode kept = top->AppendChild(XmlNode(document.get(), "inner"));
  kept.AppendChild(XmlNode(document.get(), "leaf"));
  { XmlNode alias = *top; }
  EXPECT_EQ("inner", kept.GetName());
  top.reset();
  EXPECT_EQ(Show(kept), "()");
  EXPECT_THROW(kept.GetParent(), XmlException);
  document.reset();
  EXPECT_EQ(Show(child), "()");
}

class XmlSaveTest : public ::testing::Test {
 protected:
  XmlSaveTest() : path_(dir_.path() + "/out.xml") {
    XmlDocument::Create("r", document_);
    root_ = document_->GetRootElement();
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
  // Long texts are written in pieces of 64 KiB; a character may straddle the
  // end of one.
  const std::string kLong(65535, 'x');
  struct Row {
    std::string value, asText, asAttribute;
  };
  const Row kRows[] = {
      {" & ", " &#38; ", " &amp; "},
      {"<t a=\"v\">'x'</t>", "&#60;t a=\"v\"&#62;'x'&#60;/t&#62;",
       "&lt;t a=&quot;v&quot;&gt;'x'&lt;/t&gt;"},
      {"l1\r\nl2\tend", "l1&#13;\nl2\tend", "l1&#13;&#10;l2&#9;end"},
      {" \t\n", "&#32;&#9;&#10;", " &#9;&#10;"},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80",
       "caf\xC3\xA9 \xF0\x9F\x98\x80"},
      {"0123456789abcdef<&>\"'", "0123456789abcdef&#60;&#38;&#62;\"'",
       "0123456789abcdef&lt;&amp;&gt;&quot;'"},
      {kLong + "\xE2\x82\xAC&", kLong + "\xE2\x82\xAC&#38;", kLong + "\xE2\x82\xAC&amp;"},
  };
  std::string expected = kDeclaration + "<r a=\"1\" b=\"2\">ac<empty/><attrs z=\"\"/>";
  for (const Row& row : kRows) {
    XmlNode node = root_.AppendChild(XmlNode(document_.get(), "n"));
    node.SetText(row.value);
    node.SetAttribute("v", row.value);
    expected += "<n v=\"" + row.asAttribute + "\">" + row.asText + "</n>";
  }
  ASSERT_TRUE(document_->Save(path_, true));
  EXPECT_TRUE(ReadFileOrDie(path_) == expected + "</r>");
  boost::shared_ptr<XmlDocument> loaded;
  ASSERT_TRUE(XmlDocument::LoadFromFile(path_, loaded));
  EXPECT_EQ(Show(loaded->GetRootElement()), Show(root_));
}

// Without overwrite nothing at the path is replaced; with it the file is
// replaced whole, keeping its permissions, or on failure left whole, and no
// temporary file stays behind.
TEST_F(XmlSaveTest, ReplacesWholeOrNotAtAll) {
  WriteFileOrDie(path_, "old");
  std::filesystem::permissions(path_, std::filesystem::perms(0604));
  std::filesystem::create_symlink("nowhere", dir_.path() + "/dangling.xml");
  MakeDirectoriesOrDie(dir_.path() + "/dir/keep");
  EXPECT_FALSE(document_->Save(path_, false));
  EXPECT_FALSE(document_->Save(dir_.path() + "/dangling.xml", false));
  XmlNode bad = root_.AppendChild(XmlNode(document_.get(), "bad"));
  bad.SetText("\xC3");
  EXPECT_THROW(document_->Save(path_, true), std::runtime_error);
  bad.SetText("bell \x07");  // no form in XML 1.0
  EXPECT_FALSE(document_->Save(path_, true));
  bad.SetText("");
  // Cut at the NUL it could clash; the others hold what no name may, at
  // each length the checker takes in its own way.
  for (const std::string& name : {std::string("a\0b", 3), std::string("ab>"),
                                  std::string("abc def"), std::string("abcdefgh/ijk")}) {
    bad.SetAttribute(name, "v");
    EXPECT_FALSE(document_->Save(path_, true)) << name;
    bad.RemoveAttribute(name);
  }
  root_.RemoveChild(bad);
  // Renaming onto a directory fails after the bytes were written.
  EXPECT_FALSE(document_->Save(dir_.path() + "/dir", true));
  EXPECT_EQ("old", ReadFileOrDie(path_));
  // out.xml, dangling.xml and dir alone.
  EXPECT_EQ(3, std::distance(std::filesystem::directory_iterator(dir_.path()), {}));
  ASSERT_TRUE(document_->Save(path_, true));
  EXPECT_EQ(kDeclaration + "<r/>", ReadFileOrDie(path_));
  EXPECT_EQ(std::filesystem::status(path_).permissions(), std::filesystem::perms(0604));
}

// Saved, and destroyed held or detached, without recursion.
TEST_F(XmlSaveTest, AMillionDeepTreeIsSavedAndDestroyed) {
  XmlNode node = root_;
  for (int i = 0; i < 1000000; ++i) node = node.AppendChild(XmlNode(document_.get(), "n"));
  XmlNode loose(document_.get(), "loose");
  XmlNode cursor = loose;
  for (int i = 0; i < 1000000; ++i) cursor = cursor.AppendChild(XmlNode(document_.get(), "n"));
  ASSERT_TRUE(document_->Save(path_, false));
  EXPECT_TRUE(ReadFileOrDie(path_) == kDeclaration + "<r>" + Repeat("<n>", 999999) + "<n/>" +
                                          Repeat("</n>", 999999) + "</r>");
  document_.reset();
  EXPECT_EQ("", node.GetName());
  loose = cursor;  // the detached chain loses its last handle at the top
  EXPECT_EQ("", loose.GetName());
}

}  // namespace
