// Finding the installations of the product through the application registry
// and choosing one by release track.
#include <iterator>

#include "log/log_sink.h"
#include "platform/file_url.h"
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

}  // namespace

std::unique_ptr<BundleReader> TargetApp::OpenBundleAtUrl(const std::string& urlString) {
  std::string path;
  if (!PathFromFileUrlString(urlString, &path)) return nullptr;
  return environment_.bundles->Open(path);
}

std::optional<std::string> TargetApp::InfoString(const BundleReader& bundle,
                                                 const std::string& key) {
  const PlistValue* value = bundle.ObjectForKey(key);
  if (value == nullptr || !value->IsString()) return std::nullopt;
  return value->string;
}

bool TargetApp::findFirstApplication(std::vector<std::string>* urls) {
  bool haveList = false;
  TemporaryFiles& files = *environment_.temporaryFiles;
  const std::string folder = files.Folder();
  if (folder.empty()) {
    log_.Log("findFirstApplication:: No private temporary folder for the probe file");
  } else {
    std::string probePath = folder + kProbeFileName;
    std::string probeUrl = FileUrlStringFromPath(probePath, false);
    // Other runs of the user share the probe file: each run creates, queries
    // and removes it while holding the folder, so none removes it under
    // another's query.
    std::string error;
    const std::unique_ptr<TemporaryFiles::Lock> lock = files.LockFolder(&error);
    if (lock == nullptr) {
      log_.Log("findFirstApplication:: Unable to lock folder(" + folder + "), error: " + error);
    }
    if (!probeUrl.empty() && files.EnsureFile(probePath)) {
      urls->clear();
      haveList = environment_.registry->CopyEditorApplicationURLs(probeUrl, urls);
      // Without a list the probe file stays; the next call finds it in place.
      if (haveList && !files.RemoveFile(probePath, &error)) {
        log_.Log("findFirstApplication:: Error while trying to remove file(" + probePath +
                 "), error: " + error);
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
    std::unique_ptr<BundleReader> bundle = environment_.bundles->Open(path);
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
    std::unique_ptr<BundleReader> bundle = OpenBundleAtUrl(*appUrlString);
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
