#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/scoped_temp_dir.h"
#include "xml/xml_document.h"
#include "xml/xml_loader.h"

namespace {

boost::shared_ptr<XmlDocument> Load(const std::string& text) {
  boost::shared_ptr<XmlDocument> document;
  if (!XmlDocument::LoadFromString(text, document)) throw std::runtime_error("not loaded: " + text);
  return document;
}

// The document lives until the end of the full expression.
std::string RootText(const std::string& text) { return Load(text)->GetRootElement().GetText(); }

TEST(XmlLoadTextTest, TextAroundChildrenIsJoinedAfterAProlog) {
  boost::shared_ptr<XmlDocument> document =
      Load("<?xml version='1.0'?><!-- c --><?pi x?><ns:x a:b='1'>a<ns:b/>c</ns:x>");
  XmlNode root = document->GetRootElement();
  EXPECT_EQ("ns:x", root.GetName());
  EXPECT_EQ("1", root.GetAttribute("a:b"));
  EXPECT_EQ("ac", root.GetText());
  ASSERT_EQ(1u, root.GetChildren().size());
  EXPECT_EQ("ns:b", root.GetChildren()[0].GetName());
}

TEST(XmlLoadTextTest, LiteralWhitespaceRunsDroppedOtherRunsKeepTheirBlanks) {
  boost::shared_ptr<XmlDocument> document = Load("<x>\n\t<a>  v  </a>\r\n  <b>\n</b>\n</x>");
  XmlNode root = document->GetRootElement();
  EXPECT_EQ("", root.GetText());
  EXPECT_EQ("  v  ", root.GetChildren()[0].GetText());
  EXPECT_EQ("", root.GetChildren()[1].GetText());
  EXPECT_EQ("&", RootText("<x>  &amp;  </x>"));
  EXPECT_EQ("a b", RootText("<x>a<!-- c --> b<?pi d?> </x>"));
  EXPECT_EQ(" ", RootText("<x>&#32;</x>"));
  EXPECT_EQ("a <b>&amp; ]] c", RootText("<x>a<![CDATA[ <b>&amp; ]] ]]>c</x>"));
  EXPECT_EQ("  ", RootText("<x><![CDATA[  ]]></x>"));
}

TEST(XmlLoadEntityTest, PredefinedGiveTheirCharacterOthersNothing) {
  EXPECT_EQ("<&>\"'", RootText("<x>&lt;&amp;&gt;&quot;&apos;</x>"));
  EXPECT_EQ("ab", RootText("<x>a&undeclared;b</x>"));
  boost::shared_ptr<XmlDocument> document =
      Load("<!DOCTYPE x [<!ENTITY e 'EXPANDED'>]><x k='v'>1&e;2<y>&e;</y></x>");
  XmlNode root = document->GetRootElement();
  EXPECT_EQ("12", root.GetText());
  EXPECT_EQ("v", root.GetAttribute("k"));
  EXPECT_EQ("", root.GetChildren()[0].GetText());
}

TEST(XmlLoadEntityTest, NestedExpansionBombIsNeverExpanded) {
  std::string dtd = "<!DOCTYPE x [<!ENTITY l0 'lol'>";
  for (int level = 1; level <= 12; ++level) {
    std::string value;
    for (int i = 0; i < 10; ++i) value += "&l" + std::to_string(level - 1) + ";";
    dtd += "<!ENTITY l" + std::to_string(level) + " '" + value + "'>";
  }
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ("ab", RootText(dtd + "]><x>a&l12;b</x>"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(XmlLoadEntityTest, ExternalEntitiesAndDtdsAreNeverRead) {
  ScopedTempDir dir;
  WriteFileOrDie(dir.path() + "/secret.txt", "SECRET");
  WriteFileOrDie(dir.path() + "/ext.dtd", "<!ENTITY fromdtd 'SECRET'>");
  EXPECT_EQ("ok", RootText("<!DOCTYPE x SYSTEM 'file://" + dir.path() + "/ext.dtd' [" +
                           "<!ENTITY s SYSTEM 'file://" + dir.path() + "/secret.txt'>" +
                           "<!ENTITY p SYSTEM 'file:///etc/passwd'>]><x>&s;&p;&fromdtd;ok</x>"));
}

TEST(XmlLoadFailureTest, MalformedTextLeavesHeldDocumentUntouched) {
  boost::shared_ptr<XmlDocument> held = Load("<old/>");
  boost::shared_ptr<XmlDocument> before = held;
  for (const std::string& text :
       std::vector<std::string>{"<x><y></x>", "<x>", "", "<x/><y/>", std::string("<x/>\0", 5)})
    EXPECT_FALSE(XmlDocument::LoadFromString(text, held)) << text;
  EXPECT_EQ(before, held);
  EXPECT_THROW(XmlDocument::LoadFromString("<x>\xC3</x>", held), std::runtime_error);
  EXPECT_THROW(XmlDocument::LoadFromFile("/tmp/\xFF.xml", held), std::runtime_error);
  EXPECT_EQ(before, held);
}

struct BoundCase {
  std::string text;
  size_t maxNodes;
  size_t maxContentBytes;
  bool loads;
};

// Deep nesting, elements with their attributes, and kept text (names, values,
// character data, CDATA; not layout) are each bounded; a document over a bound
// fails like a malformed one.
TEST(XmlLoadFailureTest, DocumentsOverABoundFailCleanlyWhileSmallerOnesLoad) {
  std::string deep;
  for (int i = 0; i < 1000000; ++i) deep += "<a>";
  for (int i = 0; i < 1000000; ++i) deep += "</a>";
  const std::string moderate = deep.substr(0, 3 * 9000) + deep.substr(deep.size() - 4 * 9000);
  const size_t kNodes = XmlLoadLimits::kMaxNodes;
  const size_t kBytes = XmlLoadLimits::kMaxContentBytes;
  const std::vector<BoundCase> cases = {
      {deep, kNodes, kBytes, false},          {moderate, kNodes, kBytes, true},
      {"<r><a/><b/></r>", 3, kBytes, true},   {"<r><a/><b/></r>", 2, kBytes, false},
      {"<r a='1' b='2'/>", 2, kBytes, false}, {"<r ab='cd'/>", 2, 5, true},
      {"<r ab='cd'/>", 2, 4, false},          {"<r>ab&amp;c</r>", 1, 5, true},
      {"<r>ab&amp;c</r>", 1, 4, false},       {"<r><![CDATA[abcd]]></r>", 1, 4, false},
      {"<r> <a/>\n</r>", 2, 2, true},
  };
  for (const BoundCase& c : cases) {
    boost::shared_ptr<XmlDocument> document;
    const std::string label = c.text.substr(0, 40);
    EXPECT_EQ(XmlLoader::Parse(c.text.data(), c.text.size(), document,
                               XmlLoadLimits{c.maxNodes, c.maxContentBytes}),
              c.loads)
        << label << " " << c.maxNodes << " " << c.maxContentBytes;
    EXPECT_EQ(static_cast<bool>(document), c.loads) << label;
  }
}

TEST(XmlLoadFileTest, ReadsFilesAndRefusesWhatIsNotASmallRegularFile) {
  ScopedTempDir dir;
  const std::string path = dir.path() + "/doc.xml";
  // UTF-16: references are still told apart from character data.
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("<x> &amp; &#32;</x>")) utf16 += std::string(1, c) + '\0';
  WriteFileOrDie(path, utf16);
  boost::shared_ptr<XmlDocument> document;
  ASSERT_TRUE(XmlDocument::LoadFromFile(path, document));
  EXPECT_EQ("&  ", document->GetRootElement().GetText());
  document.reset();
  WriteFileOrDie(path, "<x>" + std::string(65 * 1024 * 1024, ' ') + "</x>");
  EXPECT_FALSE(XmlDocument::LoadFromFile(path, document));
  EXPECT_FALSE(document);
}

}  // namespace
