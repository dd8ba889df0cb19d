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
  EXPECT_EQ(a.data(), grandchild.GetParent().data());
  // Once removed it can be appended again, and then comes last.
  root.AppendChild(XmlNode(document.get(), "b"));
  root.AppendChild(root.RemoveChild(a));
  std::vector<XmlNode> children = root.GetChildren();
  ASSERT_EQ(2u, children.size());
  EXPECT_EQ("b", children[0].GetName());
  EXPECT_EQ("a", children[1].GetName());
}

TEST(XmlNodeLifetimeTest, HandleOutlivingItsDocumentSeesAnEmptyElement) {
  boost::shared_ptr<XmlDocument> document;
  ASSERT_TRUE(XmlDocument::LoadFromString("<r><c k='v'>text<g/></c></r>", document));
  XmlNode child(document.get(), "placeholder");
  child = document->GetRootElement().GetChildren()[0];
  XmlNode root = child.GetParent();
  EXPECT_EQ(document->GetRootElement().data(), root.data());
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
    { XmlNode alias = top; }
    EXPECT_EQ("inner", kept.GetName());
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
