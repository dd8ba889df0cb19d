#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>

#include <ctime>
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/application_bundle_walker_posix.h"
#include "platform/application_registry.h"
#include "platform/application_search_cache_posix.h"
#include "platform/file_url.h"
#include "platform/folders.h"
#include "platform/plist_key_scan_posix.h"
#include "platform/property_list.h"
#include "platform/regular_file.h"
#include "platform/scoped_descriptor.h"

namespace {

// The ways an application's Info.plist can name a document type.
struct DocumentType {
  const char* contentType;
  const char* extension;
  const char* mimeType;
  const char* osType;
};

constexpr DocumentType kPdf{"com.adobe.pdf", "pdf", "application/pdf", "PDF "};
constexpr char kDocumentTypesKey[] = "CFBundleDocumentTypes";

bool EqualsIgnoringCase(const std::string& text, const char* wanted) {
  return strcasecmp(text.c_str(), wanted) == 0 && text.find('\0') == std::string::npos;
}

// True when `list` is an array holding a string equal to `wanted` in any
// letter case (type identifiers, extensions and MIME types all compare so).
bool ListHolds(const PlistValue* list, const char* wanted) {
  if (list == nullptr || list->kind != PlistValue::Kind::kArray) return false;
  for (const PlistValue& item : list->array) {
    if (item.IsString() && EqualsIgnoringCase(item.string, wanted)) return true;
  }
  return false;
}

// Four-character codes are compared byte for byte.
bool ListHoldsExactly(const PlistValue* list, const std::string& wanted) {
  if (list == nullptr || list->kind != PlistValue::Kind::kArray) return false;
  for (const PlistValue& item : list->array) {
    if (item.IsString() && item.string == wanted) return true;
  }
  return false;
}

// An entry that names content types is matched by them alone; only an entry
// without them is matched by its extensions, MIME types and OS types, where
// the extension "*" and the OS type "****" stand for every document.
bool DeclarationNamesType(const PlistValue& declaration, const DocumentType& type) {
  if (const PlistValue* contentTypes = declaration.Find("LSItemContentTypes"))
    return ListHolds(contentTypes, type.contentType);
  const PlistValue* extensions = declaration.Find("CFBundleTypeExtensions");
  const PlistValue* osTypes = declaration.Find("CFBundleTypeOSTypes");
  return ListHolds(extensions, type.extension) || ListHoldsExactly(extensions, "*") ||
         ListHolds(declaration.Find("CFBundleTypeMIMETypes"), type.mimeType) ||
         ListHoldsExactly(osTypes, type.osType) || ListHoldsExactly(osTypes, "****");
}

bool EditsType(const PlistValue& info, const DocumentType& type) {
  const PlistValue* declarations = info.Find(kDocumentTypesKey);
  if (declarations == nullptr || declarations->kind != PlistValue::Kind::kArray) return false;
  for (const PlistValue& declaration : declarations->array) {
    const PlistValue* role = declaration.Find("CFBundleTypeRole");
    if (role == nullptr || !role->IsString() || role->string != "Editor") continue;
    if (DeclarationNamesType(declaration, type)) return true;
  }
  return false;
}

// The document type of an existing file, known by its extension.
const DocumentType* TypeOfFile(const std::string& fileUrl) {
  std::string path;
  if (!PathFromFileUrlString(fileUrl, &path)) return nullptr;
  struct stat status;
  if (stat(path.c_str(), &status) != 0 || S_ISDIR(status.st_mode)) return nullptr;
  const std::string name = path.substr(path.find_last_of('/') + 1);
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) return nullptr;
  return EqualsIgnoringCase(name.substr(dot + 1), kPdf.extension) ? &kPdf : nullptr;
}

// Whether the application at `path` edits `type`. Most applications declare
// no document types at all; their Info.plist is only scanned, not parsed.
// `folder` is an open descriptor of the application folder `path` lies in,
// `relative` the rest of the path.
bool ApplicationEditsType(const std::string& path, int folder, const char* relative,
                          const DocumentType& type, ApplicationSearchCache* cache) {
  const std::string file = path + "/Contents/Info.plist";
  struct stat status;
  if (fstatat(folder, (std::string(relative) + "/Contents/Info.plist").c_str(), &status, 0) != 0)
    return false;
  // Stamped before it is read: a change made meanwhile shows at the next use.
  const ApplicationSearchCache::Stamp stamp = ApplicationSearchCache::StampOf(status);
  InfoFacts facts;
  if (cache != nullptr && cache->FindInfo(file, stamp, &facts)) return facts.pdfEditor;
  std::string data;
  PlistValue info;
  if (ReadRegularFile(file, kMaxPropertyListFileSize, &data) &&
      PlistMayHoldKey(data, kDocumentTypesKey) && ParsePropertyList(data, &info)) {
    facts.pdfEditor = EditsType(info, kPdf);
    facts.identified = true;
    const PlistValue* identifier = info.Find("CFBundleIdentifier");
    if (identifier != nullptr && identifier->IsString()) facts.identifier = identifier->string;
  }
  if (cache != nullptr) cache->KeepInfo(file, stamp, facts);
  return &type == &kPdf && facts.pdfEditor;
}

class PosixApplicationRegistry : public ApplicationRegistry {
 public:
  PosixApplicationRegistry(std::vector<std::string> folders, ApplicationSearchLimits limits,
                           ApplicationSearchCache* cache)
      : folders_(std::move(folders)), limits_(limits), cache_(cache) {}

  bool CopyEditorApplicationURLs(const std::string& fileUrl,
                                 std::vector<std::string>* urls) override {
    const DocumentType* type = TypeOfFile(fileUrl);
    if (type == nullptr) return false;
    std::vector<std::string> found;
    std::unordered_set<std::string> seen;
    if (cache_ != nullptr) cache_->Load();
    for (const std::string& folder : folders_) {
      // Looked up from the folder, as the search did.
      const std::string root = ApplicationFolderRoot(folder);
      const ScopedDescriptor descriptor(
          open(root.empty() ? "/" : root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
      for (const std::string& path : FindApplicationBundles(folder, limits_, cache_)) {
        if (seen.insert(path).second &&
            ApplicationEditsType(path, descriptor.get(), path.c_str() + root.size() + 1, *type,
                                 cache_))
          found.push_back(FileUrlStringFromPath(path, true));
      }
    }
    // The answer stands without the cache; a cache that cannot be written
    // only makes the next search list everything again.
    std::string ignored;
    if (cache_ != nullptr) cache_->Save(&ignored);
    // Launch Services answers null, not an empty list, when nothing matches.
    if (found.empty()) return false;
    *urls = std::move(found);
    return true;
  }

 private:
  std::vector<std::string> folders_;
  ApplicationSearchLimits limits_;
  ApplicationSearchCache* const cache_;
};

}  // namespace

std::vector<std::string> DefaultApplicationFolders() {
  std::vector<std::string> folders{"/Applications", "/System/Applications",
                                   "/Network/Applications"};
  const std::string home = HomeFolder();
  if (!home.empty()) folders.push_back((home.back() == '/' ? home : home + "/") + "Applications");
  folders.push_back("/Library/InstallerSandboxes");
  return folders;
}

std::shared_ptr<ApplicationSearchCache> CreateApplicationSearchCache(std::string file) {
  return std::make_shared<ApplicationSearchCache>(std::move(file),
                                                  [] { return std::time(nullptr); });
}

std::unique_ptr<ApplicationRegistry> CreateApplicationRegistry(std::vector<std::string> folders,
                                                               ApplicationSearchLimits limits,
                                                               ApplicationSearchCache* cache) {
  return std::make_unique<PosixApplicationRegistry>(std::move(folders), limits, cache);
}
