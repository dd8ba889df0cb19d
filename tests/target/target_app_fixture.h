// The machine as the target operations see it, held in memory, and a fixture
// over it with a recording log.
#ifndef SKIFF_TESTS_TARGET_TARGET_APP_FIXTURE_H_
#define SKIFF_TESTS_TARGET_TARGET_APP_FIXTURE_H_

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/file_url.h"
#include "target/target_app.h"
#include "tests/support/fake_shell.h"
#include "tests/support/recording_log.h"

using Lines = std::vector<std::string>;

constexpr char kId[] = "com.orvane.Folian.Pro";
constexpr char kApp[] = "/Applications/Folian.app";
constexpr char kEvergreen[] = "Evergreen";
constexpr char kSupport[] = "/Library/Application Support";
// The versions the host knows: 23.0 for most tracks, 23.1 for the fixed one.
constexpr char kStatusInfo[] = "com.orvane.Folian.Pro_23.0,com.orvane.Folian.Pro_23.1";
constexpr uint32_t kX64 = kBundleExecutableArchitectureX86_64;
constexpr uint32_t kArm = kBundleExecutableArchitectureARM64;
constexpr uint32_t kI386 = kBundleExecutableArchitectureI386;

inline PlistValue Value(const std::string& text) { return {PlistValue::Kind::kString, text}; }
inline PlistValue Value(bool flag) { return {PlistValue::Kind::kBoolean, "", double(flag)}; }

// Sets `key` of a dictionary to a string or a boolean; no value leaves it out.
template <typename T>
void Put(PlistValue& dictionary, const char* key, const std::optional<T>& value) {
  dictionary.kind = PlistValue::Kind::kDictionary;
  if (value) dictionary.dictionary[key] = Value(*value);
}

// The preference file of the installer of a track.
inline std::string PreferencesOf(const std::string& track) {
  return std::string(kSupport) + "/Orvane/Folian/" + track +
         "/SupportFiles/Preferences/com.orvane.folian.scainstaller.plist";
}

// The registry lists the installations in the order installed, and answers
// only while the probe file stands. `calls` is the one log of the folder lock,
// the probe file, the listing and the launches, as in
// "lock create list remove unlock open /A.app ".
class FakeMachine : public ApplicationRegistry,
                    public Bundles,
                    public PropertyListFiles,
                    public SystemVersion,
                    public TemporaryFiles,
                    public Launcher {
 public:
  // "FoliSCA" of the Info.plist and the two flags of the track's preference
  // file (written only when one of them is given).
  struct SingleClient {
    std::optional<bool> foliSca, singleClient, foliInstalled;
  };
  // One installation; a test states only the fields that differ.
  struct Installation {
    std::string path = kApp;
    std::optional<std::string> track = kEvergreen;
    SingleClient marks;
    std::string identifier = kId;
    std::vector<uint32_t> architectures = {kX64};
    std::optional<std::string> version = "23.008.20470";
    std::string executable = std::string(kApp) + "/Contents/MacOS/Folian";  // "" for none
  };

  struct FakeBundle : BundleReader {
    std::string bundleIdentifier() const override { return app.identifier; }
    const PlistValue* ObjectForKey(const std::string& key) const override { return info.Find(key); }
    std::string executablePath() const override { return app.executable; }
    std::vector<uint32_t> executableArchitectures() const override { return app.architectures; }
    Installation app;
    PlistValue info;
  };

  // Adds the installation to the registry's list and returns its URL string.
  std::string Install(const Installation& app) {
    FakeBundle& bundle = bundles[app.path];
    bundle.app = app;
    Put(bundle.info, "TrackName", app.track);
    Put(bundle.info, "CFBundleVersion", app.version);
    Put(bundle.info, "FoliSCA", app.marks.foliSca);
    if (app.track && (app.marks.singleClient || app.marks.foliInstalled)) {
      PlistValue& preferences = files[PreferencesOf(*app.track)];
      Put(preferences, "bIsSingleClientApp", app.marks.singleClient);
      Put(preferences, "bIsSCFoliAppInstalled", app.marks.foliInstalled);
    }
    listed.push_back(FileUrlStringFromPath(app.path, true));
    return listed.back();
  }
  bool CopyEditorApplicationURLs(const std::string& fileUrl,
                                 std::vector<std::string>* urls) override {
    calls += "list ";
    std::string path;
    if (!registryAnswers || !PathFromFileUrlString(fileUrl, &path) || temporary.count(path) == 0)
      return false;
    *urls = listed;
    return true;
  }
  std::unique_ptr<BundleReader> Open(const std::string& path) override {
    auto found = bundles.find(path);
    return found == bundles.end() ? nullptr : std::make_unique<FakeBundle>(found->second);
  }
  bool HasFile(const std::string& path) override { return files.count(path) != 0; }
  bool Read(const std::string& path, PlistValue* out) override {
    if (!HasFile(path)) return false;
    *out = files[path];
    return true;
  }
  bool IsAtLeastMacOS11() override { return macOS11; }
  std::string Folder() override { return folder; }
  struct CallLock : Lock {
    explicit CallLock(std::string& calls) : calls(calls) { calls += "lock "; }
    ~CallLock() override { calls += "unlock "; }
    std::string& calls;
  };
  std::unique_ptr<Lock> LockFolder(std::string* error) override {
    *error = lockError;
    return lockError.empty() ? std::make_unique<CallLock>(calls) : nullptr;
  }
  bool EnsureFile(const std::string& path) override {
    if (canCreate && temporary.insert(path).second) calls += "create ";
    return canCreate;
  }
  bool RemoveFile(const std::string& path, std::string* error) override {
    *error = removeError;
    if (!removeError.empty()) return false;
    calls += "remove ";
    return temporary.erase(path) == 1;
  }
  bool OpenApplication(const std::string& bundlePath) override {
    calls += "open " + bundlePath + " ";
    return openAnswer;
  }
  pid_t StartProcess(const std::string& executable,
                     const std::vector<std::string>& arguments) override {
    calls += "start " + executable + " ";
    for (const std::string& argument : arguments) calls += argument + " ";
    if (start == Start::kPlatformError) throw PlatformException("cannot start " + executable);
    if (start == Start::kOtherError) throw std::logic_error("unexpected");
    return start == Start::kMinusOne ? -1 : 4242;
  }

  Lines listed;  // URL strings
  std::map<std::string, FakeBundle> bundles;
  std::map<std::string, PlistValue> files;
  bool registryAnswers = true, macOS11 = true, canCreate = true, openAnswer = true;
  std::string folder = "/tmp/me/", lockError, removeError;
  enum class Start { kPid, kMinusOne, kPlatformError, kOtherError } start = Start::kPid;
  std::set<std::string> temporary;  // files in the temporary folder
  std::string calls;
};

class TargetAppTest : public ::testing::Test {
 protected:
  // A fresh object over the machine (the class is stateless).
  TargetApp App() {
    return TargetApp(log_, {&machine_, &machine_, &machine_, &machine_, &machine_, &machine_,
                            &shell_, kSupport});
  }

  // The status document for the bundle information, with a workflow.
  std::string Status(const std::string& workflow, const std::string& bundleInfo = kStatusInfo) {
    AppStatusOperationParams params(bundleInfo);
    params.workflow = workflow;
    std::string response;
    EXPECT_TRUE(App().generateAppStatusXml(params, response));
    return response;
  }

  FakeMachine machine_;
  FakeShell shell_;
  RecordingLog log_;
};

#endif  // SKIFF_TESTS_TARGET_TARGET_APP_FIXTURE_H_
