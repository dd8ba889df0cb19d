#include "platform/application_registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/application_search_cache_posix.h"
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

// An Info.plist declaring `documentTypes` under `key`.
std::string Info(const std::string& documentTypes,
                 const std::string& key = "CFBundleDocumentTypes") {
  return "<plist><dict><key>" + key + "</key><array>" + documentTypes + "</array></dict></plist>";
}

const std::string kPdfEditor = Declares("LSItemContentTypes", "com.adobe.pdf");
const std::string kEditor = Info(kPdfEditor);

class ApplicationRegistryTest : public ::testing::Test {
 protected:
  void MakeApp(const std::string& relative, const std::string& info = kEditor) {
    WriteFileOrDie(dir_.path() + relative + "/Contents/Info.plist", info);
  }

  // The answer for a file named `probe` (created unless `create` is false), or
  // {"null"}: a null answer leaves the list as it was.
  Urls Editors(const Urls& folders, const std::string& probe = "/probe.pdf", bool create = true,
               ApplicationSearchCache* cache = nullptr) {
    if (create) WriteFileOrDie(dir_.path() + probe, "");
    Urls urls{"null"};
    const bool found =
        CreateApplicationRegistry(folders, limits_, cache)
            ->CopyEditorApplicationURLs(FileUrlStringFromPath(dir_.path() + probe, false), &urls);
    return found || urls == Urls{"null"} ? urls : Urls{"changed"};
  }

  std::string Url(const std::string& relative) {
    return FileUrlStringFromPath(dir_.path() + relative, true);
  }

  ScopedTempDir dir_;
  ApplicationSearchLimits limits_;
  const std::string apps_ = dir_.path() + "/Apps";
};

// Each application under /Apps, its Info.plist and whether it edits PDF
// documents where the registry finds it.
TEST_F(ApplicationRegistryTest, FindsTheEditorsDeclaredInThePlacesWhereApplicationsNest) {
  const std::string kText =
      "<key>LSItemContentTypes</key><array><string>public.text</string></array>";
  const std::string in = "/Outer.app/Contents/", kit = in + "Frameworks/Kit.framework/";
  const std::tuple<std::string, std::string, bool> kApps[] = {
      // However the key is spelled, the parser reads it.
      {"/KeyByReference.app", Info(kPdfEditor, "CFBundle&#68;ocumentTypes"), true},
      {"/KeyAroundComment.app", Info(kPdfEditor, "CFBundle<!---->DocumentTypes"), true},
      {"/KeyInCData.app", Info(kPdfEditor, "CFBundle<![CDATA[Document]]>Types"), true},
      {"/ByExtension.app", Info(Declares("CFBundleTypeExtensions", "PDF")), true},
      {"/ByMime.app", Info(Declares("CFBundleTypeMIMETypes", "application/pdf")), true},
      {"/ByOsType.app", Info(Declares("CFBundleTypeOSTypes", "PDF ")), true},
      {"/AnyExtension.app", Info(Declares("CFBundleTypeExtensions", "*")), true},
      {"/anyOsType.app", Info(Declares("CFBundleTypeOSTypes", "****")), true},
      {"/Viewer.app", Info(Declares("LSItemContentTypes", "com.adobe.pdf", "Viewer")), false},
      {"/Text.app", Info(Declares("CFBundleTypeExtensions", "txt") + "<string>x</string>"), false},
      {"/LowerOsType.app", Info(Declares("CFBundleTypeOSTypes", "pdf ")), false},
      // Content types, when named, are the only declaration that counts.
      {"/TypesHide.app", Info(Declares("CFBundleTypeExtensions", "pdf", "Editor", kText)), false},
      {"/Broken.app", kEditor.substr(0, kEditor.size() - 16), false},  // cut short
      // Applications nest only in these places of a bundle.
      {in + "Applications/A.app", kEditor, true},
      {in + "Helpers/H.app/Contents/Helpers/HH.app", kEditor, true},
      {in + "SharedSupport/S.app", kEditor, true},
      {in + "Library/LoginItems/L.app", kEditor, true},
      {in + "Frameworks/E.app", kEditor, true},
      {kit + "K.app", kEditor, true},
      {kit + "Versions/A/V.app", kEditor, true},
      {kit + "Versions/B/Helpers/VH.app", kEditor, true},
      {in + "PlugIns/P.app", kEditor, false},
      {in + "Helpers/Sub/D.app", kEditor, false},
      {in + "Library/LaunchServices/T.app", kEditor, false},
      {kit + "Resources/KR.app", kEditor, false},
      {kit + "Versions/A/Resources/VR.app", kEditor, false},
  };
  Urls expected;
  for (const auto& [path, info, found] : kApps) {
    MakeApp("/Apps" + path, info);
    if (found) expected.push_back(Url("/Apps" + path));
  }
  std::sort(expected.begin(), expected.end());
  // A link, even to an application, is not followed.
  MakeApp("/Elsewhere/Outside.app");
  ASSERT_EQ(symlink((dir_.path() + "/Elsewhere/Outside.app").c_str(), (apps_ + "/L.app").c_str()),
            0);
  // Every bundle once, in byte order, however often the folders reach it.
  EXPECT_EQ(Editors({dir_.path() + "/Absent", apps_, apps_ + "/", apps_ + in + "Applications"}),
            expected);
  // Only an existing file of a PDF name has editors; without any, the answer is null.
  EXPECT_EQ(Editors({apps_}, "/UPPER.PDF"), expected);
  EXPECT_EQ(Editors({dir_.path() + "/Absent"}), Urls{"null"});
  EXPECT_EQ(Editors({apps_}, "/probe.txt"), Urls{"null"});
  EXPECT_EQ(Editors({apps_}, "/absent.pdf", false), Urls{"null"});
  MakeDirectoriesOrDie(dir_.path() + "/folder.pdf");
  EXPECT_EQ(Editors({apps_}, "/folder.pdf", false), Urls{"null"});
}

// Each application folder and each bundle has its own budget of entries; the
// answer lists the folders in their order, each in byte order.
TEST_F(ApplicationRegistryTest, NoTreeHidesAnother) {
  limits_ = {8, 8};
  for (int i = 0; i < 20; ++i) {
    MakeDirectoriesOrDie(dir_.path() + "/1/Huge/" + std::to_string(i));
    MakeDirectoriesOrDie(apps_ + "/Big.app/Contents/Helpers/" + std::to_string(i));
  }
  for (const char* name : {"/Apps/Big.app", "/Apps/Small.app",
                           "/Apps/Small.app/Contents/Helpers/Nested.app", "/0/Last.app"})
    MakeApp(name);
  EXPECT_EQ(Editors({dir_.path() + "/1/Huge", apps_, dir_.path() + "/0"}),
            (Urls{Url("/Apps/Big.app"), Url("/Apps/Small.app"),
                  Url("/Apps/Small.app/Contents/Helpers/Nested.app"), Url("/0/Last.app")}));
}

// What a search keeps stands for a folder or an Info.plist only while it is
// unchanged.
TEST_F(ApplicationRegistryTest, AKeptSearchAnswersAsAFreshOneAfterEveryChange) {
  // Everything counts as settled long ago, so everything is kept.
  ApplicationSearchCache cache(dir_.path() + "/kept", [] { return std::time(nullptr) + 10; });
  const std::string kit = "/Apps/Outer.app/Contents/Frameworks/Kit.framework/Versions/A";
  MakeApp("/Apps/Outer.app", Info(""));
  MakeApp("/Apps/Old.app");
  MakeApp("/Apps/Viewer.app", Info(Declares("LSItemContentTypes", "com.adobe.pdf", "Viewer")));
  MakeDirectoriesOrDie(dir_.path() + kit);
  const std::function<void()> kChanges[] = {
      [&] { MakeApp(kit + "/New.app"); },
      [&] { std::filesystem::remove_all(apps_ + "/Old.app"); },
      [&] { MakeApp("/Apps/Viewer.app"); },
      [&] {
        const std::string frameworks = apps_ + "/Outer.app/Contents/Frameworks";
        std::filesystem::rename(frameworks, dir_.path() + "/Elsewhere");
        std::filesystem::create_directory_symlink(dir_.path() + "/Elsewhere", frameworks);
      },
  };
  Urls before = Editors({apps_}, "/probe.pdf", true, &cache);
  ASSERT_TRUE(std::filesystem::exists(dir_.path() + "/kept"));
  for (const auto& change : kChanges) {
    // Changes within one tick of the file system's clock are told apart by
    // not keeping what changed in the last seconds, which this cache skips.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    change();
    const Urls fresh = Editors({apps_});
    EXPECT_NE(fresh, before);
    EXPECT_EQ(Editors({apps_}, "/probe.pdf", true, &cache), fresh);
    before = fresh;
  }
}

// Only settled records are kept, each for its own stamp, and only a whole
// file of this user's in a folder of its own is read back.
TEST(ApplicationSearchCacheTest, KeepsSettledRecordsInAFileOnlyItsUserWrites) {
  using Stamp = ApplicationSearchCache::Stamp;
  ScopedTempDir dir;
  const std::string file = dir.path() + "/kept";
  const std::time_t now = 1000000;
  const Stamp settled{1, 2, 3, 4, (now - 3) * 1000000000},
      recent{1, 2, 3, 4, (now - 1) * 1000000000};
  const FolderListing listing{7, {{2, "odd\n 9:name"}, {6, "x"}}};
  const std::pair<const char*, std::function<void()>> kFiles[] = {
      {"whole", [] {}},
      {"a byte changed",
       [&] {
         std::string text = ReadFileOrDie(file);
         text[text.find("odd")] = 'O';
         WriteFileOrDie(file, text);
       }},
      {"cut short", [&] { truncate(file.c_str(), 40); }},
      {"writable by the group", [&] { chmod(file.c_str(), 0620); }},
      {"a link",
       [&] {
         std::filesystem::rename(file, file + "2");
         std::filesystem::create_symlink(file + "2", file);
       }},
      {"in a shared folder", [&] { chmod(dir.path().c_str(), 0777); }},
  };
  for (const auto& [name, spoil] : kFiles) {
    SCOPED_TRACE(name);
    chmod(dir.path().c_str(), 0700);
    std::filesystem::remove(file);
    ApplicationSearchCache cache(file, [&] { return now; });
    cache.KeepFolder("/a", settled, listing);
    cache.KeepFolder("/b", recent, listing);
    cache.KeepInfo("/a/Info.plist", settled, {true, true, "id"});
    std::string error;
    ASSERT_TRUE(cache.Save(&error)) << error;
    spoil();
    ApplicationSearchCache loaded(file, [&] { return now; });
    loaded.Load();
    const bool whole = std::string(name) == "whole";
    const KeptFolderListing* kept = loaded.FindFolder("/a", settled);
    ASSERT_EQ(kept != nullptr, whole);
    InfoFacts facts;
    EXPECT_EQ(loaded.FindInfo("/a/Info.plist", settled, &facts), whole);
    if (!whole) continue;
    EXPECT_EQ(kept->entries, 7u);
    EXPECT_EQ(kept->subfolders,
              (std::vector<std::pair<size_t, std::string_view>>{{2, "odd\n 9:name"}, {6, "x"}}));
    EXPECT_EQ(facts.identifier, "id");
    EXPECT_EQ(loaded.FindFolder("/b", recent), nullptr);
    Stamp changed = settled;
    changed.changed += 1;
    EXPECT_EQ(loaded.FindFolder("/a", changed), nullptr);
  }
}

}  // namespace
