// Finding the installations of the product through the application registry
// and choosing one by release track.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>

#include "log/log_sink.h"
#include "platform/bundle.h"
#include "platform/file_url.h"
#include "platform/folder_lock.h"
#include "target/target_app.h"

namespace {

struct KnownTrack {
  const char* name;     // the "TrackName" value
  const char* logWord;  // how log lines call it
};

// In order of preference.
constexpr KnownTrack kKnownTracks[] = {
    {"Evergreen", "Evergreen"},
    {"Preview", "Preview"},
    {"2041", "Fixed"},
    {"Nightly", "Nightly"},
};
constexpr size_t kTrackCount = std::size(kKnownTracks);

// The index of a known track name, or kTrackCount.
size_t TrackIndex(const std::string& name) {
  for (size_t i = 0; i < kTrackCount; ++i) {
    if (name == kKnownTracks[i].name) return i;
  }
  return kTrackCount;
}

// Makes sure a regular file stands at `path` for the registry to look at. An
// existing file is taken as it is, never truncated; anything else there (a
// link, a FIFO, an empty folder) is removed without being followed and
// replaced, since the registry would answer nothing for it.
bool EnsureProbeFile(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) == 0) {
    if (S_ISREG(info.st_mode)) return true;
    if ((S_ISDIR(info.st_mode) ? rmdir(path.c_str()) : unlink(path.c_str())) != 0) return false;
  }
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EEXIST && lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
  close(fd);
  return true;
}

}  // namespace

std::unique_ptr<Bundle> TargetApp::OpenBundleAtUrl(const std::string& urlString) {
  std::string path;
  if (!PathFromFileUrlString(urlString, &path)) return nullptr;
  return Bundle::Open(path);
}

std::optional<std::string> TargetApp::InfoString(const Bundle& bundle, const std::string& key) {
  const PlistValue* value = bundle.ObjectForKey(key);
  if (value == nullptr || !value->IsString()) return std::nullopt;
  return value->string;
}

bool TargetApp::findFirstApplication(std::vector<std::string>* urls) {
  bool haveList = false;
  const std::string& folder = environment_.temporaryFolder;
  if (folder.empty()) {
    log_.Log("findFirstApplication:: No private temporary folder for the probe file");
  } else {
    std::string probePath = folder + kProbeFileName;
    std::string probeUrl = FileUrlStringFromPath(probePath, false);
    // Other runs of the user share the probe file: each run creates, queries
    // and removes it while holding the folder, so none removes it under
    // another's query.
    const FolderLock lock(folder);
    if (!lock.held()) {
      log_.Log("findFirstApplication:: Unable to lock folder(" + folder +
               "), error: " + lock.error());
    }
    if (!probeUrl.empty() && EnsureProbeFile(probePath)) {
      urls->clear();
      haveList = environment_.registry->CopyEditorApplicationURLs(probeUrl, urls);
      // Without a list the probe file stays; the next call finds it in place.
      if (haveList && unlink(probePath.c_str()) != 0) {
        log_.Log("findFirstApplication:: Error while trying to remove file(" + probePath +
                 "), error: " + std::strerror(errno));
      }
    }
  }
  log_.Log("Fetched all PDF Editors successfully");
  if (!haveList) urls->clear();
  return haveList;
}

bool TargetApp::FillTrackSlots(const std::string& bundleId, bool logCandidates,
                               std::vector<std::string>* slots) {
  slots->assign(kTrackCount, std::string());
  std::vector<std::string> urls;
  if (!findFirstApplication(&urls) || urls.empty()) return false;
  for (const std::string& url : urls) {
    if (url.empty()) continue;
    std::string path;
    if (!PathFromFileUrlString(url, &path)) continue;
    if (path.compare(0, environment_.sandboxPrefix.size(), environment_.sandboxPrefix) == 0) {
      continue;
    }
    std::unique_ptr<Bundle> bundle = Bundle::Open(path);
    if (bundle == nullptr || bundle->bundleIdentifier() != bundleId) continue;
    std::optional<std::string> track = InfoString(*bundle, "TrackName");
    if (!track) continue;
    size_t index = TrackIndex(*track);
    if (index == kTrackCount) continue;
    if (logCandidates) {
      log_.Log(std::string("Found ") + kKnownTracks[index].logWord + " track for launch");
    }
    (*slots)[index] = url;
  }
  return true;
}

std::optional<std::string> TargetApp::getAppURLForLaunch(const std::string& bundleId) {
  if (bundleId.empty()) return std::string();
  log_.Log("BundleID for getting App URL to launch: " + bundleId);
  std::vector<std::string> slots;
  if (!FillTrackSlots(bundleId, true, &slots)) return std::nullopt;
  for (size_t i = 0; i < kTrackCount; ++i) {
    if (slots[i].empty()) continue;
    log_.Log(std::string("Send ") + kKnownTracks[i].logWord + " track for launch");
    return slots[i];
  }
  return std::nullopt;
}

std::string TargetApp::findAppTrack(const std::string& bundleId) {
  if (bundleId.empty()) return std::string();
  std::vector<std::string> slots;
  if (!FillTrackSlots(bundleId, false, &slots)) return std::string();
  for (size_t i = 0; i < kTrackCount; ++i) {
    if (slots[i].empty()) continue;
    log_.Log(std::string("Found ") + kKnownTracks[i].logWord + " track");
    return kKnownTracks[i].name;
  }
  return std::string();
}

bool TargetApp::isEvergreenTrackInstalled(const std::string& bundleId) {
  return findAppTrack(bundleId) == "Evergreen";
}

std::string TargetApp::getInstalledAppTrack(const std::optional<std::string>& appUrlString) {
  if (!appUrlString) return std::string();
  try {
    std::unique_ptr<Bundle> bundle = OpenBundleAtUrl(*appUrlString);
    std::optional<std::string> track;
    if (bundle != nullptr) track = InfoString(*bundle, "TrackName");
    if (track) {
      log_.Log("Installed app track: " + *track);
      return *track;
    }
    log_.Log("Unable to get installer app track name");
  } catch (...) {
    // The caller treats an unreadable track like a missing one.
  }
  return std::string();
}
