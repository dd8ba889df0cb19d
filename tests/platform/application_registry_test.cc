#include "platform/application_registry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_url.h"
#include "tests/support/scoped_temp_dir.h"

namespace {

using Urls = std::vector<std::string>;

// One entry; `more` is added to it as it is.
std::string Declares(const std::string& key, const std::string& value,
                     const std::string& role = "Editor", const std::string& more = "") {
  return "<dict><key>CFBundleTypeRole</key><string>" + role + "</string><key>" + key +
         "</key><array><string>" + value + "</string></array>" + more + "</dict>";
}

const std::string kPdfEditor = Declares("LSItemContentTypes", "com.adobe.pdf");

class ApplicationRegistryTest : public ::testing::Test {
 protected:
  void MakeApp(const std::string& relative, const std::string& documentTypes = kPdfEditor,
               const std::string& key = "CFBundleDocumentTypes") {
    WriteFileOrDie(
        dir_.path() + relative + "/Contents/Info.plist",
        "<plist><dict><key>" + key + "</key><array>" + documentTypes + "</array></dict></plist>");
  }

  // The answer for a file named `probe` (created unless `create` is false), or {"null"}.
  Urls Editors(const Urls& folders, const std::string& probe = "/probe.pdf", bool create = true) {
    if (create) WriteFileOrDie(dir_.path() + probe, "");
    Urls urls;
    if (!CreateApplicationRegistry(folders, limits_)
             ->CopyEditorApplicationURLs(FileUrlStringFromPath(dir_.path() + probe, false), &urls))
      return {"null"};
    return urls;
  }

  std::string Url(const std::string& relative) {
    return FileUrlStringFromPath(dir_.path() + relative, true);
  }

  ScopedTempDir dir_;
  ApplicationSearchLimits limits_;
  const std::string apps_ = dir_.path() + "/Apps";
};

TEST_F(ApplicationRegistryTest, EachWayOfDeclaringTheTypeRegistersAnEditor) {
  const std::string kTextTypes =
      "<key>LSItemContentTypes</key><array><string>public.text</string></array>";
  struct App {
    const char* name;
    std::string types;
    std::string key = "CFBundleDocumentTypes";
  };
  const App apps[] = {
      {"ByType", kPdfEditor},
      // However the key is spelled, the parser reads it.
      {"KeyByReference", kPdfEditor, "CFBundle&#68;ocumentTypes"},
      {"KeyAroundComment", kPdfEditor, "CFBundle<!---->DocumentTypes"},
      {"KeyInCData", kPdfEditor, "CFBundle<![CDATA[Document]]>Types"},
      {"ByExtension", Declares("CFBundleTypeExtensions", "PDF")},
      {"ByMime", Declares("CFBundleTypeMIMETypes", "application/pdf")},
      {"ByOsType", Declares("CFBundleTypeOSTypes", "PDF ")},
      {"AnyExtension", Declares("CFBundleTypeExtensions", "*")},
      {"AnyOsType", Declares("CFBundleTypeOSTypes", "****")},
      {"Viewer", Declares("LSItemContentTypes", "com.adobe.pdf", "Viewer")},
      {"AnyViewer", Declares("CFBundleTypeExtensions", "*", "Viewer")},
      {"Text", Declares("CFBundleTypeExtensions", "txt") + "<string>odd</string>"},
      {"LowerOsType", Declares("CFBundleTypeOSTypes", "pdf ")},
      // Content types, when named, are the only declaration that counts.
      {"TypesHideExtension", Declares("CFBundleTypeExtensions", "pdf", "Editor", kTextTypes)},
      {"TypesHideMime", Declares("CFBundleTypeMIMETypes", "application/pdf", "Editor", kTextTypes)},
      {"TypesHideAnyOsType", Declares("CFBundleTypeOSTypes", "****", "Editor", kTextTypes)},
  };
  for (const App& app : apps)
    MakeApp("/Apps/" + std::string(app.name) + ".app", app.types, app.key);
  EXPECT_EQ(Editors({apps_}),
            (Urls{Url("/Apps/AnyExtension.app"), Url("/Apps/AnyOsType.app"),
                  Url("/Apps/ByExtension.app"), Url("/Apps/ByMime.app"), Url("/Apps/ByOsType.app"),
                  Url("/Apps/ByType.app"), Url("/Apps/KeyAroundComment.app"),
                  Url("/Apps/KeyByReference.app"), Url("/Apps/KeyInCData.app")}));
}

TEST_F(ApplicationRegistryTest, FoldersInOrderBundlesInByteOrderWithoutDuplicates) {
  for (const char* name : {"/1/b.app", "/1/Z.app", "/1/B c.app", "/2/A.app", "/2/In/Deep.app"})
    MakeApp(name);
  const std::string first = dir_.path() + "/1", second = dir_.path() + "/2";
  const Urls urls = Editors({first, second + "/", second + "/In", first});
  EXPECT_EQ(urls, (Urls{Url("/1/B c.app"), Url("/1/Z.app"), Url("/1/b.app"), Url("/2/A.app"),
                        Url("/2/In/Deep.app")}));
  EXPECT_EQ(urls[0], "file://" + first + "/B%20c.app/");
}

TEST_F(ApplicationRegistryTest, SearchesOnlyThePlacesInABundleWhereApplicationsNest) {
  MakeApp("/Apps/Outer.app", "");
  const std::string kit = "Frameworks/Kit.framework/";
  const std::string nested[] = {"Applications/A.app",
                                "Helpers/H.app",
                                "Helpers/H.app/Contents/Helpers/HH.app",
                                "SharedSupport/S.app",
                                "Library/LoginItems/L.app",
                                "Frameworks/E.app",
                                kit + "K.app",
                                kit + "Versions/A/V.app",
                                kit + "Versions/B/Helpers/VH.app"};
  for (const std::string& inner : nested) MakeApp("/Apps/Outer.app/Contents/" + inner);
  for (const std::string& inner :
       Urls{"Resources/R.app", "MacOS/M.app", "_CodeSignature/C.app", "PlugIns/P.app",
            "Helpers/Sub/D.app", "Library/LaunchServices/T.app", kit + "Resources/KR.app",
            kit + "Versions/A/Resources/VR.app"})
    MakeApp("/Apps/Outer.app/Contents/" + inner);
  // Links, as frameworks hold them, are not followed.
  ASSERT_EQ(symlink("A", (apps_ + "/Outer.app/Contents/" + kit + "Versions/Current").c_str()), 0);
  Urls expected;
  for (const std::string& inner : nested)
    expected.push_back(Url("/Apps/Outer.app/Contents/" + inner));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Editors({apps_}), expected);
}

// Each application folder and each bundle has its own budget of entries.
TEST_F(ApplicationRegistryTest, NoTreeHidesAnother) {
  limits_ = {8, 8};
  for (int i = 0; i < 20; ++i) {
    MakeDirectoriesOrDie(dir_.path() + "/1/Huge/" + std::to_string(i));
    MakeDirectoriesOrDie(apps_ + "/Big.app/Contents/Helpers/" + std::to_string(i));
  }
  MakeApp("/Apps/Big.app");
  MakeApp("/Apps/Small.app");
  MakeApp("/Apps/Small.app/Contents/Helpers/Nested.app");
  EXPECT_EQ(Editors({dir_.path() + "/1/Huge", apps_}),
            (Urls{Url("/Apps/Big.app"), Url("/Apps/Small.app"),
                  Url("/Apps/Small.app/Contents/Helpers/Nested.app")}));
}

TEST_F(ApplicationRegistryTest, SkipsLinksAndBrokenBundles) {
  MakeApp("/Elsewhere/Outside.app");
  MakeApp("/Apps/Real.app");
  WriteFileOrDie(apps_ + "/Broken.app/Contents/Info.plist", "<plist><dict><key>");
  WriteFileOrDie(apps_ + "/Plain.app", "not a directory");
  ASSERT_EQ(symlink((dir_.path() + "/Elsewhere/Outside.app").c_str(), (apps_ + "/L.app").c_str()),
            0);
  ASSERT_EQ(symlink(apps_.c_str(), (apps_ + "/Loop").c_str()), 0);
  EXPECT_EQ(Editors({apps_, dir_.path() + "/Absent"}), Urls{Url("/Apps/Real.app")});
}

TEST_F(ApplicationRegistryTest, NoEditorIsTheNullAnswer) {
  MakeApp("/Apps/Viewer.app", Declares("LSItemContentTypes", "com.adobe.pdf", "Viewer"));
  EXPECT_EQ(Editors({apps_}), Urls{"null"});
  MakeApp("/Apps/Editor.app");
  EXPECT_EQ(Editors({apps_}, "/UPPER.PDF"), Urls{Url("/Apps/Editor.app")});
  EXPECT_EQ(Editors({apps_}, "/probe.txt"), Urls{"null"});
  EXPECT_EQ(Editors({apps_}, "/absent.pdf", false), Urls{"null"});
  MakeDirectoriesOrDie(dir_.path() + "/folder.pdf");
  EXPECT_EQ(Editors({apps_}, "/folder.pdf", false), Urls{"null"});
  Urls urls{"unchanged"};
  EXPECT_FALSE(CreateApplicationRegistry({apps_})->CopyEditorApplicationURLs("not a url", &urls));
  EXPECT_EQ(urls, Urls{"unchanged"});
}

TEST(DefaultApplicationFoldersTest, IncludesTheUsersApplications) {
  EXPECT_EQ(
      DefaultApplicationFolders(),
      (Urls{"/Applications", "/System/Applications", "/Network/Applications",
            std::string(std::getenv("HOME")) + "/Applications", "/Library/InstallerSandboxes"}));
}

}  // namespace
