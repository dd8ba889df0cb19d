#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/scoped_temp_dir.h"
#include "xml/xml_document.h"
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
  const std::string text(32 * 1024 * 1024 - 1, 't');
  const struct {
    std::string text;
    size_t maxNodes;
    size_t maxContentBytes;
    bool loads;
  } kRows[] = {
      {deep, 0, 0, false},
      {Repeat("<a>", 10000) + Repeat("</a>", 10000), 0, 0, true},
      {Repeat("<a>", 10001) + Repeat("</a>", 10001), 0, 0, false},
      {"<r>" + Repeat("<a/>", 999999) + "</r>", 0, 0, true},
      {"<r>" + Repeat("<a/>", 1000000) + "</r>", 0, 0, false},
      {"<r>" + text + "</r>", 0, 0, true},
      {"<r>" + text + "t</r>", 0, 0, false},
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
  for (const auto& row : kRows) {
    boost::shared_ptr<XmlDocument> document = held;
    const XmlLoadLimits limits =
        row.maxNodes == 0 ? XmlLoadLimits() : XmlLoadLimits{row.maxNodes, row.maxContentBytes};
    EXPECT_EQ(XmlLoader::Parse(row.text.data(), row.text.size(), document, limits), row.loads)
        << row.text.substr(0, 40) << " " << row.maxNodes << " " << row.maxContentBytes;
    EXPECT_EQ(document != held, row.loads) << row.text.substr(0, 40);
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

}  // namespace
