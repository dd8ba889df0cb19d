#include "platform/application_registry.h"

#include <gtest/gtest.h>
#include <unistd.h>

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
  void MakeApp(const std::string& relative, const std::string& documentTypes = kPdfEditor) {
    WriteFileOrDie(dir_.path() + relative + "/Contents/Info.plist",
                   "<plist><dict><key>CFBundleDocumentTypes</key><array>" + documentTypes +
                       "</array></dict></plist>");
  }

  // The answer for a file named `probe` (created unless `create` is false), or {"null"}.
  Urls Editors(const Urls& folders, const std::string& probe = "/probe.pdf", bool create = true) {
    if (create) WriteFileOrDie(dir_.path() + probe, "");
    Urls urls;
    if (!CreateApplicationRegistry(folders)->CopyEditorApplicationURLs(
            FileUrlStringFromPath(dir_.path() + probe, false), &urls))
      return {"null"};
    return urls;
  }

  std::string Url(const std::string& relative) {
    return FileUrlStringFromPath(dir_.path() + relative, true);
  }

  ScopedTempDir dir_;
  const std::string apps_ = dir_.path() + "/Apps";
};

TEST_F(ApplicationRegistryTest, EachWayOfDeclaringTheTypeRegistersAnEditor) {
  const std::string kTextTypes =
      "<key>LSItemContentTypes</key><array><string>public.text</string></array>";
  const std::pair<const char*, std::string> apps[] = {
      {"ByType", kPdfEditor},
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
  for (const auto& [name, types] : apps) MakeApp("/Apps/" + std::string(name) + ".app", types);
  EXPECT_EQ(Editors({apps_}), (Urls{Url("/Apps/AnyExtension.app"), Url("/Apps/AnyOsType.app"),
                                    Url("/Apps/ByExtension.app"), Url("/Apps/ByMime.app"),
                                    Url("/Apps/ByOsType.app"), Url("/Apps/ByType.app")}));
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

TEST_F(ApplicationRegistryTest, WalksIntoBundlesButNotTheirResources) {
  MakeApp("/Apps/Outer.app", "");
  for (const char* inner :
       {"Helpers/H.app", "Resources/R.app", "MacOS/M.app", "_CodeSignature/S.app"})
    MakeApp(std::string("/Apps/Outer.app/Contents/") + inner);
  EXPECT_EQ(Editors({apps_}), Urls{Url("/Apps/Outer.app/Contents/Helpers/H.app")});
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
