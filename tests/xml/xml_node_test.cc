#include <gtest/gtest.h>

#include <map>
#include <string>

#include "xml/xml_document.h"
#include "xml/xml_exception.h"

namespace {

boost::shared_ptr<XmlDocument> NewDocument(const std::string& rootName = "root") {
  boost::shared_ptr<XmlDocument> document;
  EXPECT_TRUE(XmlDocument::Create(rootName, document));
  return document;
}

template <typename Call>
std::string MessageOf(Call call) {
  try {
    call();
  } catch (const XmlException& error) {
    return error.what();
  }
  return "no exception";
}

TEST(XmlNodeAttributeTest, AbsentEmptyNameAndRemoval) {
  boost::shared_ptr<XmlDocument> document = NewDocument();
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
}

TEST(XmlNodeTreeTest, CopiesAndChildHandlesShareTheElement) {
  boost::shared_ptr<XmlDocument> document = NewDocument();
  XmlNode root = document->GetRootElement();
  XmlNode child = root.AppendChild(XmlNode(document.get(), "c"));
  root.GetChildren()[0].SetText("via children");
  XmlNode copy(document.get(), "other");
  copy = child;
  XmlNode& same = copy;
  copy = same;
  EXPECT_EQ("via children", copy.GetText());
  EXPECT_EQ(root.data(), child.GetParent().data());
  EXPECT_EQ(root.data(), document->GetRootElement().data());
}

TEST(XmlNodeTreeTest, MisuseThrowsAndChangesNothing) {
  boost::shared_ptr<XmlDocument> document = NewDocument();
  XmlNode root = document->GetRootElement();
  XmlNode a = root.AppendChild(XmlNode(document.get(), "a"));
  XmlNode grandchild = a.AppendChild(XmlNode(document.get(), "g"));
  XmlNode loose(document.get(), "loose");
  EXPECT_EQ("Attempt to append child node already in DOM", MessageOf([&] { root.AppendChild(a); }));
  EXPECT_EQ("Attempt to remove child node not in DOM", MessageOf([&] { root.RemoveChild(loose); }));
  EXPECT_EQ("Attempt to remove child node from non-parent",
            MessageOf([&] { root.RemoveChild(grandchild); }));
  EXPECT_EQ("Attempt to get parent of node without parent", MessageOf([&] { root.GetParent(); }));
  EXPECT_EQ("Invalid root element name", MessageOf([&] { NewDocument(""); }));
  ASSERT_EQ(1u, root.GetChildren().size());
  EXPECT_EQ(a.data(), grandchild.GetParent().data());
}

TEST(XmlNodeTreeTest, RemovedChildCanBeAppendedAgainAndComesLast) {
  boost::shared_ptr<XmlDocument> document = NewDocument();
  XmlNode root = document->GetRootElement();
  XmlNode first = root.AppendChild(XmlNode(document.get(), "first"));
  root.AppendChild(XmlNode(document.get(), "second"));
  root.RemoveChild(first);
  EXPECT_EQ("Attempt to get parent of node without parent", MessageOf([&] { first.GetParent(); }));
  root.AppendChild(first);
  std::vector<XmlNode> children = root.GetChildren();
  ASSERT_EQ(2u, children.size());
  EXPECT_EQ("second", children[0].GetName());
  EXPECT_EQ("first", children[1].GetName());
}

TEST(XmlNodeLifetimeTest, HandleOutlivingItsDocumentSeesAnEmptyElement) {
  boost::shared_ptr<XmlDocument> document;
  ASSERT_TRUE(XmlDocument::LoadFromString("<r><c k='v'>text<g/></c></r>", document));
  XmlNode child = document->GetRootElement().GetChildren()[0];
  XmlNode root = document->GetRootElement();
  document.reset();
  EXPECT_EQ("", child.GetName());
  EXPECT_EQ("", child.GetText());
  EXPECT_EQ("", child.GetAttribute("k"));
  EXPECT_TRUE(child.GetChildren().empty());
  EXPECT_THROW(child.GetParent(), XmlException);
  EXPECT_TRUE(root.GetChildren().empty());
}

TEST(XmlNodeLifetimeTest, DetachedSubtreeIsClearedWhenItsLastHandleGoes) {
  boost::shared_ptr<XmlDocument> document = NewDocument();
  XmlNode kept(document.get(), "placeholder");
  {
    XmlNode top(document.get(), "top");
    kept = top.AppendChild(XmlNode(document.get(), "inner"));
    kept.AppendChild(XmlNode(document.get(), "leaf"));
    XmlNode alias = top;
  }
  EXPECT_EQ("", kept.GetName());
  EXPECT_TRUE(kept.GetChildren().empty());
  EXPECT_THROW(kept.GetParent(), XmlException);
}

TEST(XmlNodeLifetimeTest, MillionDeepTreeIsDestroyedWithoutRecursion) {
  boost::shared_ptr<XmlDocument> document = NewDocument();
  XmlNode node = document->GetRootElement();
  for (int i = 0; i < 1000000; ++i) node = node.AppendChild(XmlNode(document.get(), "n"));
  XmlNode loose(document.get(), "loose");
  XmlNode cursor = loose;
  for (int i = 0; i < 1000000; ++i) cursor = cursor.AppendChild(XmlNode(document.get(), "n"));
  document.reset();
  EXPECT_EQ("", node.GetName());
  loose = cursor;  // the detached chain loses its last handle at the top
  EXPECT_EQ("", loose.GetName());
}

}  // namespace
