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
#include <type_traits>
#include <vector>

#include "platform/file_url.h"
#include "target/target_app.h"
#include "tests/support/fake_shell.h"
#include "tests/support/recording_log.h"

using Lines = std::vector<std::string>;

constexpr char kId[] = "com.orvane.Folian.Pro";
constexpr uint32_t kX64 = kBundleExecutableArchitectureX86_64;
constexpr uint32_t kArm = kBundleExecutableArchitectureARM64;
constexpr uint32_t kI386 = kBundleExecutableArchitectureI386;

// Sets `key` of a dictionary to a string or a boolean; no value leaves it out.
template <typename T>
void Put(PlistValue& dictionary, const char* key, const std::optional<T>& value) {
  dictionary.kind = PlistValue::Kind::kDictionary;
  if (!value) return;
  PlistValue& entry = dictionary.dictionary[key];
  entry.kind = std::is_same_v<T, bool> ? PlistValue::Kind::kBoolean : PlistValue::Kind::kString;
  if constexpr (std::is_same_v<T, bool>) entry.number = *value;
  if constexpr (!std::is_same_v<T, bool>) entry.string = *value;
}

// The registry lists the installations in the order added, and answers only
// while the probe file stands. `steps` records the listing step by step, as
// in "lock create list remove unlock ".
class FakeMachine : public ApplicationRegistry,
                    public Bundles,
                    public PropertyListFiles,
                    public SystemVersion,
                    public TemporaryFiles,
                    public Launcher {
 public:
  struct Installation {
    std::string path = "/Applications/Folian.app";
    std::optional<std::string> track = "Evergreen";
    std::string identifier = kId;
    std::optional<bool> foliSca;
    std::vector<uint32_t> architectures = {kX64};
    std::optional<std::string> version = "23.008.20470";
    std::string executable = "/Applications/Folian.app/Contents/MacOS/Folian";  // "" for none
  };

  struct FakeBundle : BundleReader {
    std::string bundleIdentifier() const override { return app.identifier; }
    const PlistValue* ObjectForKey(const std::string& key) const override { return info.Find(key); }
    std::string executablePath() const override { return app.executable; }
    std::vector<uint32_t> executableArchitectures() const override { return app.architectures; }
    Installation app;
    PlistValue info;
  };

  std::string Install(const Installation& app) {
    FakeBundle& bundle = bundles[app.path];
    bundle.app = app;
    Put(bundle.info, "TrackName", app.track);
    Put(bundle.info, "CFBundleVersion", app.version);
    Put(bundle.info, "FoliSCA", app.foliSca);
    listed.push_back(FileUrlStringFromPath(app.path, true));
    return listed.back();
  }
  bool CopyEditorApplicationURLs(const std::string& fileUrl,
                                 std::vector<std::string>* urls) override {
    steps += "list ";
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
  struct StepLock : Lock {
    explicit StepLock(std::string& steps) : steps(steps) { steps += "lock "; }
    ~StepLock() override { steps += "unlock "; }
    std::string& steps;
  };
  std::unique_ptr<Lock> LockFolder(std::string* error) override {
    *error = lockError;
    return lockError.empty() ? std::make_unique<StepLock>(steps) : nullptr;
  }
  bool EnsureFile(const std::string& path) override {
    if (canCreate && temporary.insert(path).second) steps += "create ";
    return canCreate;
  }
  bool RemoveFile(const std::string& path, std::string* error) override {
    *error = removeError;
    if (!removeError.empty()) return false;
    steps += "remove ";
    return temporary.erase(path) == 1;
  }
  bool OpenApplication(const std::string& bundlePath) override {
    opened.push_back(bundlePath);
    return openAnswer;
  }
  pid_t StartProcess(const std::string& executable,
                     const std::vector<std::string>& arguments) override {
    started.push_back(executable);
    started.insert(started.end(), arguments.begin(), arguments.end());
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
  std::string steps;
  Lines opened, started;  // started: the executable, then its arguments
};

class TargetAppTest : public ::testing::Test {
 protected:
  static constexpr char kSupport[] = "/Library/Application Support";
  static constexpr char kPreferences[] =
      "/Library/Application Support/Orvane/Folian/Evergreen/SupportFiles/Preferences/"
      "com.orvane.folian.scainstaller.plist";

  // A fresh object over the machine (the class is stateless).
  TargetApp App() {
    return TargetApp(log_, {&machine_, &machine_, &machine_, &machine_, &machine_, &machine_,
                            &shell_, kSupport});
  }

  // The default installation, its Info.plist saying "FoliSCA" as given, and
  // the preference file of its track with the two flags as given (absent
  // ones left out).
  std::string InstallSingleClient(std::optional<bool> foliSca, std::optional<bool> singleClient,
                                  std::optional<bool> foliInstalled) {
    Put(machine_.files[kPreferences], "bIsSingleClientApp", singleClient);
    Put(machine_.files[kPreferences], "bIsSCFoliAppInstalled", foliInstalled);
    FakeMachine::Installation app;
    app.foliSca = foliSca;
    return machine_.Install(app);
  }

  FakeMachine machine_;
  FakeShell shell_;
  RecordingLog log_;
};

#endif  // SKIFF_TESTS_TARGET_TARGET_APP_FIXTURE_H_
