// In-process benchmarks, each beside its floor: the same work done by the
// simplest code that could do it, measured in the same program and run.
//
//   skiff_micro_bench [--smoke] [benchmark flags]
//
// --smoke runs every benchmark on tiny inputs, to show they still work.
#include <benchmark/benchmark.h>
#include <expat.h>
#include <fcntl.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <stdio.h>
#include <unistd.h>

#include <boost/shared_ptr.hpp>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_document.h"
#include "bench/bundle_tree.h"
#include "log/installer_log.h"
#include "platform/application_registry.h"
#include "platform/shell.h"
#include "tests/support/scoped_temp_dir.h"
#include "xml/xml_document.h"

namespace {

struct Sizes {
  size_t documentBytes = 1 << 20;
  size_t captureBytes = 16 << 20;
  std::vector<size_t> bundleCounts = {100, 250, 500, 1000};
  std::vector<size_t> frameworkFileCounts = {50, 200, 500, 1000};
  size_t bundlesForFileSweep = 100;
};

Sizes SmokeSizes() {
  Sizes sizes;
  sizes.documentBytes = 4096;
  sizes.captureBytes = 4096;
  sizes.bundleCounts = {3};
  sizes.frameworkFileCounts = {5};
  sizes.bundlesForFileSweep = 3;
  return sizes;
}

// One scratch folder for the whole run; trees are generated on first use.
ScopedTempDir& Scratch() {
  static ScopedTempDir scratch;
  return scratch;
}

struct Tree {
  std::string folder;
  std::vector<std::string> plists;
};

const Tree& TreeFor(const BundleTreeShape& shape) {
  static std::map<std::pair<size_t, size_t>, Tree> trees;
  const auto key = std::make_pair(shape.bundles, shape.frameworkFiles);
  auto found = trees.find(key);
  if (found == trees.end()) {
    Tree tree;
    tree.folder = Scratch().path() + "/apps-" + std::to_string(shape.bundles) + "-" +
                  std::to_string(shape.frameworkFiles);
    tree.plists = WriteBundleTree(tree.folder, shape, tree.folder);
    found = trees.emplace(key, std::move(tree)).first;
  }
  return found->second;
}

void Fail(benchmark::State& state, const std::string& what) { state.SkipWithError(what.c_str()); }

// --- Discovery --------------------------------------------------------------

void Discovery(benchmark::State& state, BundleTreeShape shape) {
  const Tree& tree = TreeFor(shape);
  const std::string probe = Scratch().path() + "/TempFileForLangPack.pdf";
  close(open(probe.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  const std::string probeUrl = "file://" + probe;
  for (auto _ : state) {
    std::unique_ptr<ApplicationRegistry> registry = CreateApplicationRegistry({tree.folder});
    std::vector<std::string> urls;
    if (!registry->CopyEditorApplicationURLs(probeUrl, &urls) || urls.empty())
      return Fail(state, "the registry found no editors in " + tree.folder);
    benchmark::DoNotOptimize(urls.data());
  }
  state.counters["bundles"] = static_cast<double>(shape.bundles);
  state.counters["framework_files"] = static_cast<double>(shape.frameworkFiles);
}

// Floor: reading every bundle's Info.plist from a list of their paths.
void DiscoveryFloor(benchmark::State& state, BundleTreeShape shape) {
  const Tree& tree = TreeFor(shape);
  std::vector<char> buffer(1 << 16);
  for (auto _ : state) {
    size_t total = 0;
    for (const std::string& path : tree.plists) {
      const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) return Fail(state, "cannot open " + path);
      ssize_t count;
      while ((count = read(fd, buffer.data(), buffer.size())) > 0) total += count;
      close(fd);
    }
    benchmark::DoNotOptimize(total);
  }
  state.counters["bundles"] = static_cast<double>(shape.bundles);
  state.counters["framework_files"] = static_cast<double>(shape.frameworkFiles);
}

// --- XML ----------------------------------------------------------------------

void XmlLoad(benchmark::State& state, size_t bytes) {
  const std::string text = BenchDocument(bytes);
  for (auto _ : state) {
    boost::shared_ptr<XmlDocument> document;
    if (!XmlDocument::LoadFromString(text, document)) return Fail(state, "load failed");
    benchmark::DoNotOptimize(document.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["document_bytes"] = static_cast<double>(text.size());
}

void XMLCALL IgnoreStart(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL IgnoreEnd(void*, const XML_Char*) {}
void XMLCALL IgnoreText(void*, const XML_Char*, int) {}

// Floor: expat over the same bytes with empty handlers.
void XmlLoadFloor(benchmark::State& state, size_t bytes) {
  const std::string text = BenchDocument(bytes);
  for (auto _ : state) {
    XML_Parser parser = XML_ParserCreate("UTF-8");
    XML_SetElementHandler(parser, IgnoreStart, IgnoreEnd);
    XML_SetCharacterDataHandler(parser, IgnoreText);
    const bool parsed =
        XML_Parse(parser, text.data(), static_cast<int>(text.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    if (!parsed) return Fail(state, "expat refused the document");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["document_bytes"] = static_cast<double>(text.size());
}

boost::shared_ptr<XmlDocument> LoadedDocument(size_t bytes) {
  boost::shared_ptr<XmlDocument> document;
  if (!XmlDocument::LoadFromString(BenchDocument(bytes), document))
    throw std::runtime_error("the benchmark document does not load");
  return document;
}

void XmlSave(benchmark::State& state, size_t bytes) {
  const boost::shared_ptr<XmlDocument> document = LoadedDocument(bytes);
  const std::string path = Scratch().path() + "/saved.xml";
  for (auto _ : state) {
    if (!document->Save(path, true)) return Fail(state, "save failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * ReadFileOrDie(path).size()));
}

// Floor: the bytes Save writes, written to a temporary file renamed over the
// target.
void XmlSaveFloor(benchmark::State& state, size_t bytes) {
  const std::string path = Scratch().path() + "/floor-saved.xml";
  if (!LoadedDocument(bytes)->Save(path, true)) return Fail(state, "save failed");
  const std::string text = ReadFileOrDie(path);
  const std::string temporary = path + ".tmp";
  for (auto _ : state) {
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return Fail(state, "cannot create " + temporary);
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    if (!written || rename(temporary.c_str(), path.c_str()) != 0)
      return Fail(state, "cannot write " + path);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["document_bytes"] = static_cast<double>(text.size());
}

// --- The log --------------------------------------------------------------------

const char kLogLine[] = "Output of install command: installer: Preparing for installation....";

void LogLines(benchmark::State& state) {
  const std::string library = Scratch().path() + "/Library";
  {
    InstallerLog log(library);
    if (!log.IsOpen()) return Fail(state, "the log did not open below " + library);
    const std::string line = kLogLine;
    for (auto _ : state) log.Log(line);
  }
  unlink((GetLogDirectory(library) + "FLNXInstaller.log").c_str());
  state.SetItemsProcessed(state.iterations());
}

// Floor: the same lines, prefix included, through fputs and fflush.
void LogLinesFloor(benchmark::State& state) {
  const std::string path = Scratch().path() + "/floor.log";
  FILE* file = fopen(path.c_str(), "a");
  if (file == nullptr) return Fail(state, "cannot open " + path);
  const std::string line = "[" + FormatTimestamp() + "] " + kLogLine + "\n";
  for (auto _ : state) {
    fputs(line.c_str(), file);
    fflush(file);
  }
  fclose(file);
  unlink(path.c_str());
  state.SetItemsProcessed(state.iterations());
}

// A well-known logging library's answer to the same job: a thread-safe file
// sink that flushes after every line, with the same prefix. Each run logs to
// a file of its own, as the log does.
void LogLinesSpdlog(benchmark::State& state) {
  const std::string path = Scratch().path() + "/spdlog.log";
  {
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(path);
    spdlog::logger logger("bench", sink);
    logger.set_pattern("[%Y-%m-%d_%H-%M-%S] %v");
    logger.flush_on(spdlog::level::trace);
    const std::string line = kLogLine;
    for (auto _ : state) logger.info(line);
  }
  unlink(path.c_str());
  state.SetItemsProcessed(state.iterations());
}

// --- Output capture ---------------------------------------------------------------

std::string PrintCommand(size_t bytes) { return "head -c " + std::to_string(bytes) + " /dev/zero"; }

void ShellCapture(benchmark::State& state, size_t bytes) {
  std::unique_ptr<Shell> shell = CreateShell();
  for (auto _ : state) {
    const ShellResult result = shell->Run(PrintCommand(bytes));
    if (result.status != 0 || result.output.size() != bytes)
      return Fail(state, "the command's output was not captured whole");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

// Floor: the same command's output read through popen into one string.
void ShellCaptureFloor(benchmark::State& state, size_t bytes) {
  std::vector<char> buffer(1 << 16);
  for (auto _ : state) {
    FILE* pipe = popen((PrintCommand(bytes) + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return Fail(state, "popen failed");
    std::string output;
    size_t count;
    while ((count = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
      output.append(buffer.data(), count);
    if (pclose(pipe) != 0 || output.size() != bytes) return Fail(state, "popen lost output");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void Register(const Sizes& sizes) {
  std::vector<BundleTreeShape> shapes;
  for (size_t bundles : sizes.bundleCounts) {
    BundleTreeShape shape;
    shape.bundles = bundles;
    shape.frameworkFiles = sizes.frameworkFileCounts.front();
    shapes.push_back(shape);
  }
  for (size_t files : sizes.frameworkFileCounts) {
    BundleTreeShape shape;
    shape.bundles = sizes.bundlesForFileSweep;
    shape.frameworkFiles = files;
    shapes.push_back(shape);
  }
  std::set<std::pair<size_t, size_t>> registered;
  for (const BundleTreeShape& shape : shapes) {
    if (!registered.insert({shape.bundles, shape.frameworkFiles}).second) continue;
    const std::string suffix = "/bundles:" + std::to_string(shape.bundles) +
                               "/files:" + std::to_string(shape.frameworkFiles);
    benchmark::RegisterBenchmark(("discovery" + suffix).c_str(), Discovery, shape)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("discovery_floor" + suffix).c_str(), DiscoveryFloor, shape)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("xml_load", XmlLoad, sizes.documentBytes)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("xml_load_floor", XmlLoadFloor, sizes.documentBytes)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("xml_save", XmlSave, sizes.documentBytes)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("xml_save_floor", XmlSaveFloor, sizes.documentBytes)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("log_line", LogLines);
  benchmark::RegisterBenchmark("log_line_floor", LogLinesFloor);
  benchmark::RegisterBenchmark("log_line_spdlog", LogLinesSpdlog);
  // The shell's children do the printing, so only wall time says anything.
  benchmark::RegisterBenchmark("shell_capture", ShellCapture, sizes.captureBytes)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  benchmark::RegisterBenchmark("shell_capture_floor", ShellCaptureFloor, sizes.captureBytes)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
}

// Prints as usual and remembers whether any benchmark failed.
class FailureNotingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) failed_ = failed_ || run.error_occurred;
    ConsoleReporter::ReportRuns(runs);
  }
  bool failed() const { return failed_; }

 private:
  bool failed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> arguments;
  bool smoke = false;
  for (int index = 0; index < argc; ++index) {
    if (index > 0 && std::strcmp(argv[index], "--smoke") == 0) {
      smoke = true;
    } else {
      arguments.push_back(argv[index]);
    }
  }
  int count = static_cast<int>(arguments.size());
  benchmark::Initialize(&count, arguments.data());
  if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) return 2;
  Register(smoke ? SmokeSizes() : Sizes());
  FailureNotingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return reporter.failed() ? 1 : 0;
}
