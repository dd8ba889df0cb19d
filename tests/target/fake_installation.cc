#include "tests/target/fake_installation.h"

#include "tests/support/scoped_temp_dir.h"

namespace {

std::string Plist(const std::string& entries) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\"><dict>" +
         entries + "</dict></plist>\n";
}

std::string StringEntry(const std::string& key, const std::string& value) {
  return "<key>" + key + "</key><string>" + value + "</string>";
}

std::string BoolEntry(const std::string& key, bool value) {
  return "<key>" + key + "</key>" + (value ? "<true/>" : "<false/>");
}

void AppendLittle(std::string* out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<char>(value >> shift));
}

void AppendBig(std::string* out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<char>(value >> shift));
}

// A Mach-O header without load commands: 64-bit for 64-bit processors.
std::string ThinHeader(uint32_t architecture) {
  const bool is64 = (architecture & 0x01000000) != 0;
  std::string header;
  AppendLittle(&header, is64 ? 0xfeedfacf : 0xfeedface);
  AppendLittle(&header, architecture);
  AppendLittle(&header, architecture == kBundleExecutableArchitectureARM64 ? 0 : 3);
  AppendLittle(&header, 2);  // executable
  AppendLittle(&header, 0);
  AppendLittle(&header, 0);
  AppendLittle(&header, 0);
  if (is64) AppendLittle(&header, 0);
  return header;
}

}  // namespace

std::string WriteInstallation(const std::string& bundlePath, const FakeInstallation& app) {
  std::string entries = StringEntry("CFBundleIdentifier", app.identifier) +
                        StringEntry("CFBundlePackageType", "APPL") +
                        "<key>CFBundleDocumentTypes</key><array><dict>"
                        "<key>CFBundleTypeExtensions</key><array><string>pdf</string></array>" +
                        StringEntry("CFBundleTypeRole", "Editor") + "</dict></array>";
  if (app.hasExecutableKey) entries += StringEntry("CFBundleExecutable", kFakeExecutableName);
  if (app.track) entries += StringEntry("TrackName", *app.track);
  if (app.version) entries += StringEntry("CFBundleVersion", *app.version);
  if (app.foliSca) entries += BoolEntry("FoliSCA", *app.foliSca);
  WriteFileOrDie(bundlePath + "/Contents/Info.plist", Plist(entries));
  WriteExecutable(bundlePath + "/Contents/MacOS/" + kFakeExecutableName, app.architectures);
  return bundlePath;
}

void WriteExecutable(const std::string& path, const std::vector<uint32_t>& architectures) {
  if (architectures.size() == 1) {
    WriteFileOrDie(path, ThinHeader(architectures[0]));
    return;
  }
  // Universal: big-endian header, one slice per processor at 4 KiB steps.
  const uint32_t kSliceStep = 4096;
  std::string file;
  AppendBig(&file, 0xcafebabe);
  AppendBig(&file, static_cast<uint32_t>(architectures.size()));
  for (size_t i = 0; i < architectures.size(); ++i) {
    AppendBig(&file, architectures[i]);
    AppendBig(&file, architectures[i] == kBundleExecutableArchitectureARM64 ? 0 : 3);
    AppendBig(&file, static_cast<uint32_t>((i + 1) * kSliceStep));
    AppendBig(&file, static_cast<uint32_t>(ThinHeader(architectures[i]).size()));
    AppendBig(&file, 12);  // 2^12 alignment
  }
  for (size_t i = 0; i < architectures.size(); ++i) {
    file.resize((i + 1) * kSliceStep, '\0');
    file += ThinHeader(architectures[i]);
  }
  WriteFileOrDie(path, file);
}

void WriteInstallerPreferences(const std::string& applicationSupportFolder,
                               const std::string& track, std::optional<bool> singleClient,
                               std::optional<bool> foliInstalled) {
  std::string entries;
  if (singleClient) entries += BoolEntry("bIsSingleClientApp", *singleClient);
  if (foliInstalled) entries += BoolEntry("bIsSCFoliAppInstalled", *foliInstalled);
  WriteFileOrDie(applicationSupportFolder + "/Orvane/Folian/" + track +
                     "/SupportFiles/Preferences/com.orvane.folian.scainstaller.plist",
                 Plist(entries));
}

void WriteSystemVersion(const std::string& path, const std::string& productVersion) {
  WriteFileOrDie(path, Plist(StringEntry("ProductName", "macOS") +
                             StringEntry("ProductVersion", productVersion)));
}
