// Whole-process benchmarks: the real skiff binary run inside throwaway roots
// (tests/support/skiff_root.h), each series paired with its floor and run
// alternately with it, so that both see the same machine.
//
//   skiff_process_bench [--smoke] [--runs=N] [--only=GROUP] [--out=FILE]
//
// Every series runs once to warm up and then N times (default 7), each run
// from a flushed disk; each run is measured by skiff-process-measure standing in for the program.
// FILE receives the samples as JSON for bench/report.py; a summary goes to standard output. GROUP
// (status, frameworks, install or install_loud) runs that pair of series alone, to look at one
// figure; bench/report.py needs all.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/bundle_tree.h"
#include "tests/support/scoped_temp_dir.h"
#include "tests/support/signature_report_text.h"
#include "tests/support/skiff_root.h"

namespace {

constexpr char kMeasurePath[] = "/opt/bench/measure";
constexpr char kReadFilesFloorPath[] = "/opt/bench/read-files-floor";
constexpr char kReportPath[] = "/tmp/bench-report.txt";
constexpr char kPlistListPath[] = "/tmp/plists.txt";
constexpr char kPackagePath[] = "/tmp/src/a.pkg";
constexpr char kCapturePath[] = "/tmp/capture.txt";
// Where skiff keeps what a search learnt (its temporary folder as root).
constexpr char kSearchCachePath[] = "/tmp/skiff-0/ApplicationSearch.cache";
constexpr std::chrono::milliseconds kTimeout{600000};

struct Settings {
  bool smoke = false;
  int runs = 7;
  std::string out;
  std::string only;
  BundleTreeShape statusTree;  // the status request's machine
  BundleTreeShape smallFiles;  // few bundles with small frameworks
  BundleTreeShape largeFiles;  // the same bundles with large frameworks
  int answerLateMs = 5000;
  size_t installerOutputMiB = 100;
};

struct Sample {
  double cpuSeconds = 0;
  double wallSeconds = 0;
  long peakKiB = 0;
};

using Series = std::map<std::string, std::vector<Sample>>;

// A machine with the product installed and what the measurements need.
class BenchRoot {
 public:
  BenchRoot() {
    root_.AddBind({SKIFF_BENCH_MEASURE, kMeasurePath, true});
    root_.AddBind({SKIFF_BENCH_READ_FILES_FLOOR, kReadFilesFloorPath, true});
    root_.environment()["SKIFF_BENCH_REPORT"] = kReportPath;
    root_.AddInstallation();
  }

  SkiffRoot& root() { return root_; }

  // Runs `argv`, in which kMeasurePath stands for `target`, and returns what
  // the measured program cost. Throws when it did not end with 0.
  Sample Measure(const std::string& target, const std::vector<std::string>& argv) {
    std::filesystem::remove(root_.HostPath(kReportPath));
    // Every run starts from a small log, as a real one would.
    std::filesystem::remove_all(root_.HostPath("/Library/Logs"));
    root_.environment()["SKIFF_BENCH_TARGET"] = target;
    const SkiffResult result = root_.RunCommand(argv, kTimeout);
    std::istringstream report(root_.Exists(kReportPath) ? root_.ReadFile(kReportPath) : "");
    Sample sample;
    int code = -1;
    if (result.exitCode != 0 ||
        !(report >> sample.cpuSeconds >> sample.wallSeconds >> sample.peakKiB >> code) ||
        code != 0) {
      throw std::runtime_error("run of " + target + " failed: " + result.Describe() + "\n" +
                               result.stdoutText + result.stderrText);
    }
    return sample;
  }

  Sample MeasureSkiff(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {kMeasurePath};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return Measure(SkiffRoot::kSkiffPath, argv);
  }

  // An install through skiff-host, which starts skiff through the measure.
  Sample MeasureInstall(int answerLateMs) {
    return Measure(SkiffRoot::kSkiffPath,
                   {SkiffRoot::kHostPath, std::string("--skiff=") + kMeasurePath,
                    "--answer-late=" + std::to_string(answerLateMs), "--mode=install",
                    std::string("--inputXml=") + SkiffRoot::kInputPath,
                    std::string("--outputXml=") + SkiffRoot::kOutputPath,
                    std::string("--pipeName=") + SkiffRoot::kPipeName});
  }

  // An install input whose package passes the check and whose installer
  // prints `outputBytes` (at least one line).
  void PrepareInstall(size_t outputBytes) {
    root_.SetTool("pkgutil", "output", SignatureReportText());
    const std::string line = "installer: Package name is Folian Pro, writing payload...\n";
    // One file printed by one cat: the stand-in then costs what any program
    // writing this much costs, in the measured run and in its floor alike.
    const size_t lines = std::max<size_t>(1, outputBytes / line.size());
    std::string output;
    output.reserve(lines * line.size());
    for (size_t index = 0; index < lines; ++index) output += line;
    root_.SetTool("installer", "output", output);
    installerOutputBytes_ = output.size();
    root_.WriteFile(kPackagePath, "");
    root_.WriteInstallInput(kPackagePath);
  }
  size_t installerOutputBytes() const { return installerOutputBytes_; }

  // The installer's command, its output captured to a file by the shell.
  Sample MeasureCaptureFloor() {
    return Measure("/bin/sh", {kMeasurePath, "-c",
                               std::string("installer -pkg ") + kPackagePath + " -tgt / >" +
                                   kCapturePath + " 2>&1"});
  }

  // The bundles of `shape` besides the product, and the list of every
  // Info.plist for the floor. Returns how many the list names.
  size_t AddBundles(const BundleTreeShape& shape) {
    std::vector<std::string> plists =
        WriteBundleTree(root_.HostPath("/Applications"), shape, "/Applications");
    plists.push_back("/Applications/Orvane Folian.app/Contents/Info.plist");
    std::string list;
    for (const std::string& path : plists) list += path + "\n";
    root_.WriteFile(kPlistListPath, list);
    root_.WriteRequest("com.orvane.Folian.Pro_23.0,", "upsell");
    return plists.size();
  }

  Sample MeasureStatus() {
    return MeasureSkiff({"--mode=getAppStatus", std::string("--inputXml=") + SkiffRoot::kInputPath,
                         std::string("--outputXml=") + SkiffRoot::kOutputPath,
                         "--pipeName=unused"});
  }

  // A search with nothing kept from an earlier one, as after a restart with
  // an emptied temporary folder.
  Sample MeasureFirstStatus() {
    std::filesystem::remove(root_.HostPath(kSearchCachePath));
    return MeasureStatus();
  }

  Sample MeasureReadFilesFloor() {
    return Measure(kReadFilesFloorPath, {kMeasurePath, kPlistListPath});
  }

  void ExpectInstalled() {
    if (root_.OutputDocument().find("<appStatus>installed</appStatus>") == std::string::npos)
      throw std::runtime_error("the status request did not find the product: " +
                               root_.OutputDocument());
  }

 private:
  SkiffRoot root_;
  size_t installerOutputBytes_ = 0;
};

// Runs every function of `pair` once to warm up, then `runs` rounds of all of
// them in turn, recording the samples under their names.
void RunAlternating(const Settings& settings,
                    const std::vector<std::pair<std::string, std::function<Sample()>>>& pair,
                    Series* series) {
  const int warmUps = settings.smoke ? 0 : 1;
  for (int round = 0; round < warmUps + settings.runs; ++round) {
    for (const auto& [name, measure] : pair) {
      // Each run starts with nothing left unwritten by the one before: the
      // writeback of an earlier run's output (100 MiB for the loud install
      // and its floor alike) would slow whichever run came next.
      sync();
      const Sample sample = measure();
      if (round >= warmUps) (*series)[name].push_back(sample);
    }
  }
  for (const auto& [name, measure] : pair) {
    std::vector<Sample> samples = (*series)[name];
    std::sort(samples.begin(), samples.end(),
              [](const Sample& a, const Sample& b) { return a.wallSeconds < b.wallSeconds; });
    const Sample& median = samples[samples.size() / 2];
    printf("%-28s median wall %8.4f s  cpu %8.4f s  peak %8ld KiB  (%zu runs)\n", name.c_str(),
           median.wallSeconds, median.cpuSeconds, median.peakKiB, samples.size());
    fflush(stdout);
  }
}

std::string Json(const Settings& settings, const Series& series,
                 const std::map<std::string, double>& parameters) {
  std::ostringstream out;
  out << std::setprecision(12);
  out << "{\n  \"smoke\": " << (settings.smoke ? "true" : "false") << ",\n  \"parameters\": {";
  const char* separator = "\n";
  for (const auto& [name, value] : parameters) {
    out << separator << "    \"" << name << "\": " << value;
    separator = ",\n";
  }
  out << "\n  },\n  \"series\": {";
  separator = "\n";
  for (const auto& [name, samples] : series) {
    out << separator << "    \"" << name << "\": [";
    const char* comma = "";
    for (const Sample& sample : samples) {
      out << comma << "{\"cpu\": " << sample.cpuSeconds << ", \"wall\": " << sample.wallSeconds
          << ", \"peak_kib\": " << sample.peakKiB << "}";
      comma = ", ";
    }
    out << "]";
    separator = ",\n";
  }
  out << "\n  }\n}\n";
  return out.str();
}

Settings ParseSettings(int argc, char** argv) {
  Settings settings;
  settings.statusTree = BundleTreeShape{1000, 200, 50, 4};
  settings.smallFiles = BundleTreeShape{100, 200, 50, 4};
  settings.largeFiles = BundleTreeShape{100, 200, 500, 4};
  for (int index = 1; index < argc; ++index) {
    const std::string argument = argv[index];
    if (argument == "--smoke") {
      settings.smoke = true;
      settings.runs = 1;
      settings.statusTree = BundleTreeShape{3, 2, 5, 2};
      settings.smallFiles = BundleTreeShape{2, 2, 5, 2};
      settings.largeFiles = BundleTreeShape{2, 2, 10, 2};
      settings.answerLateMs = 200;
      settings.installerOutputMiB = 1;
    } else if (argument.rfind("--runs=", 0) == 0) {
      settings.runs = std::max(1, std::atoi(argument.c_str() + 7));
    } else if (argument.rfind("--only=", 0) == 0) {
      settings.only = argument.substr(7);
    } else if (argument.rfind("--out=", 0) == 0) {
      settings.out = argument.substr(6);
    } else {
      throw std::runtime_error(
          "unknown argument " + argument +
          "; usage: skiff_process_bench [--smoke] [--runs=N] [--only=GROUP] [--out=FILE]");
    }
  }
  return settings;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Settings settings = ParseSettings(argc, argv);
    Series series;
    std::map<std::string, double> parameters;
    const auto wanted = [&](const char* group) {
      return settings.only.empty() || settings.only == group;
    };

    if (wanted("status")) {
      BenchRoot status;
      parameters["status_plists"] = static_cast<double>(status.AddBundles(settings.statusTree));
      parameters["status_bundles"] = static_cast<double>(settings.statusTree.bundles);
      // Applications are installed well before they are searched; a search
      // keeps only what has not changed for a while.
      std::this_thread::sleep_for(std::chrono::seconds(3));
      RunAlternating(settings,
                     {{"status", [&] { return status.MeasureStatus(); }},
                      {"status_first_search", [&] { return status.MeasureFirstStatus(); }},
                      {"status_floor", [&] { return status.MeasureReadFilesFloor(); }}},
                     &series);
      status.ExpectInstalled();
    }

    if (wanted("frameworks")) {
      BenchRoot small;
      BenchRoot large;
      small.AddBundles(settings.smallFiles);
      large.AddBundles(settings.largeFiles);
      parameters["small_framework_files"] = static_cast<double>(settings.smallFiles.frameworkFiles);
      parameters["large_framework_files"] = static_cast<double>(settings.largeFiles.frameworkFiles);
      std::this_thread::sleep_for(std::chrono::seconds(3));
      RunAlternating(settings,
                     {{"status_large_frameworks", [&] { return large.MeasureStatus(); }},
                      {"status_small_frameworks", [&] { return small.MeasureStatus(); }}},
                     &series);
    }

    if (wanted("install")) {
      BenchRoot quick;
      quick.PrepareInstall(1);
      parameters["answer_late_ms"] = settings.answerLateMs;
      RunAlternating(
          settings,
          {{"install_answer_late", [&] { return quick.MeasureInstall(settings.answerLateMs); }},
           {"install", [&] { return quick.MeasureInstall(0); }}},
          &series);
    }

    if (wanted("install_loud")) {
      BenchRoot loud;
      loud.PrepareInstall(settings.installerOutputMiB << 20);
      parameters["installer_output_bytes"] = static_cast<double>(loud.installerOutputBytes());
      RunAlternating(settings,
                     {{"install_loud", [&] { return loud.MeasureInstall(0); }},
                      {"install_loud_floor", [&] { return loud.MeasureCaptureFloor(); }}},
                     &series);
    }

    const std::string json = Json(settings, series, parameters);
    if (!settings.out.empty()) {
      std::ofstream file(settings.out);
      file << json;
      if (!file.flush()) throw std::runtime_error("cannot write " + settings.out);
    }
    return 0;
  } catch (const std::exception& failure) {
    std::cerr << "skiff_process_bench: " << failure.what() << "\n";
    return 1;
  }
}
