#include "platform/application_registry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/file_url.h"
#include "tests/support/scoped_temp_dir.h"

namespace {

using Urls = std::vector<std::string>;

std::string EditorOf(const std::string& key, const std::string& value,
                     const std::string& role = "Editor") {
  return "<dict><key>CFBundleTypeRole</key><string>" + role + "</string><key>" + key +
         "</key><array><string>" + value + "</string></array></dict>";
}

const std::string kPdfEditor = EditorOf("LSItemContentTypes", "com.adobe.pdf");

class ApplicationRegistryTest : public ::testing::Test {
 protected:
  ApplicationRegistryTest() : probe_(dir_.path() + "/probe.pdf") { WriteFileOrDie(probe_, ""); }

  // An application at `path` declaring `documentTypes` (dictionaries).
  void MakeApp(const std::string& path, const std::string& documentTypes) {
    MakeDirectoriesOrDie(path + "/Contents");
    WriteFileOrDie(path + "/Contents/Info.plist",
                   "<plist><dict><key>CFBundleDocumentTypes</key><array>" + documentTypes +
                       "</array></dict></plist>");
  }

  std::string Url(const std::string& path) { return FileUrlStringFromPath(path, true); }

  bool Editors(const Urls& folders, Urls* urls, const std::string& probe = "") {
    return CreateApplicationRegistry(folders)->CopyEditorApplicationURLs(
        FileUrlStringFromPath(probe.empty() ? probe_ : probe, false), urls);
  }

  ScopedTempDir dir_;
  std::string probe_;
};

TEST_F(ApplicationRegistryTest, AnyOfTheThreeDeclarationsRegistersAnEditor) {
  const std::string apps = dir_.path() + "/Apps";
  MakeApp(apps + "/ByType.app", kPdfEditor);
  MakeApp(apps + "/ByExtension.app", EditorOf("CFBundleTypeExtensions", "PDF"));
  MakeApp(apps + "/ByMime.app", EditorOf("CFBundleTypeMIMETypes", "application/pdf"));
  MakeApp(apps + "/Viewer.app", EditorOf("LSItemContentTypes", "com.adobe.pdf", "Viewer"));
  MakeApp(apps + "/Text.app", EditorOf("CFBundleTypeExtensions", "txt") + "<string>odd</string>");
  Urls urls;
  ASSERT_TRUE(Editors({apps}, &urls));
  EXPECT_EQ(urls, (Urls{Url(apps + "/ByExtension.app"), Url(apps + "/ByMime.app"),
                        Url(apps + "/ByType.app")}));
}

TEST_F(ApplicationRegistryTest, FoldersInOrderBundlesInByteOrderWithoutDuplicates) {
  const std::string first = dir_.path() + "/First";
  const std::string second = dir_.path() + "/Second";
  for (const char* name : {"/b.app", "/Z.app", "/B c.app"}) MakeApp(first + name, kPdfEditor);
  MakeApp(second + "/A.app", kPdfEditor);
  MakeApp(second + "/Inner/Deep.app", kPdfEditor);
  Urls urls;
  ASSERT_TRUE(Editors({first, second + "/", second + "/Inner", first}, &urls));
  EXPECT_EQ(urls, (Urls{Url(first + "/B c.app"), Url(first + "/Z.app"), Url(first + "/b.app"),
                        Url(second + "/A.app"), Url(second + "/Inner/Deep.app")}));
  EXPECT_EQ(urls[0], "file://" + first + "/B%20c.app/");
}

TEST_F(ApplicationRegistryTest, WalksIntoBundlesButNotTheirResources) {
  const std::string outer = dir_.path() + "/Apps/Outer.app";
  MakeApp(outer, "");
  MakeApp(outer + "/Contents/Helpers/Helper.app", kPdfEditor);
  MakeApp(outer + "/Contents/Resources/Hidden.app", kPdfEditor);
  MakeApp(outer + "/Contents/MacOS/Hidden.app", kPdfEditor);
  Urls urls;
  ASSERT_TRUE(Editors({dir_.path() + "/Apps"}, &urls));
  EXPECT_EQ(urls, Urls{Url(outer + "/Contents/Helpers/Helper.app")});
}

TEST_F(ApplicationRegistryTest, SkipsLinksAndBrokenBundles) {
  const std::string apps = dir_.path() + "/Apps";
  MakeApp(dir_.path() + "/Elsewhere/Outside.app", kPdfEditor);
  MakeApp(apps + "/Real.app", kPdfEditor);
  MakeDirectoriesOrDie(apps + "/Broken.app/Contents");
  WriteFileOrDie(apps + "/Broken.app/Contents/Info.plist", "<plist><dict><key>");
  WriteFileOrDie(apps + "/Plain.app", "not a directory");
  ASSERT_EQ(symlink((dir_.path() + "/Elsewhere/Outside.app").c_str(), (apps + "/Link.app").c_str()),
            0);
  ASSERT_EQ(symlink(apps.c_str(), (apps + "/Loop").c_str()), 0);
  Urls urls;
  ASSERT_TRUE(Editors({apps, dir_.path() + "/Absent"}, &urls));
  EXPECT_EQ(urls, Urls{Url(apps + "/Real.app")});
}

TEST_F(ApplicationRegistryTest, NoEditorIsTheNullAnswer) {
  const std::string apps = dir_.path() + "/Apps";
  MakeApp(apps + "/Viewer.app", EditorOf("LSItemContentTypes", "com.adobe.pdf", "Viewer"));
  Urls urls{"unchanged"};
  EXPECT_FALSE(Editors({apps}, &urls));
  MakeApp(apps + "/Editor.app", kPdfEditor);
  WriteFileOrDie(dir_.path() + "/probe.txt", "");
  EXPECT_FALSE(Editors({apps}, &urls, dir_.path() + "/probe.txt"));
  EXPECT_FALSE(Editors({apps}, &urls, dir_.path() + "/absent.pdf"));
  EXPECT_FALSE(CreateApplicationRegistry({apps})->CopyEditorApplicationURLs("not a url", &urls));
  EXPECT_EQ(urls, Urls{"unchanged"});
  WriteFileOrDie(dir_.path() + "/UPPER.PDF", "");
  EXPECT_TRUE(Editors({apps}, &urls, dir_.path() + "/UPPER.PDF"));
}

TEST(DefaultApplicationFoldersTest, IncludesTheUsersApplications) {
  const char* home = std::getenv("HOME");
  ASSERT_NE(home, nullptr);
  const Urls folders = DefaultApplicationFolders();
  EXPECT_EQ(folders, (Urls{"/Applications", "/System/Applications", "/Network/Applications",
                           std::string(home) + "/Applications", "/Library/InstallerSandboxes"}));
}

}  // namespace
