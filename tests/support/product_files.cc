#include "tests/support/product_files.h"

#include <cstdint>

namespace {

constexpr uint32_t kCpuI386 = 0x00000007;
constexpr uint32_t kCpuX86_64 = 0x01000007;
constexpr uint32_t kCpuArm64 = 0x0100000c;

void AppendLittle(std::string* out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<char>(value >> shift));
}

void AppendBig(std::string* out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<char>(value >> shift));
}

uint32_t SubType(uint32_t cpu) { return cpu == kCpuArm64 ? 0 : 3; }  // ..._ALL

// mach_header(_64) of an executable without load commands.
std::string ThinHeader(uint32_t cpu) {
  const bool is64 = (cpu & 0x01000000) != 0;
  std::string header;
  AppendLittle(&header, is64 ? 0xfeedfacf : 0xfeedface);
  AppendLittle(&header, cpu);
  AppendLittle(&header, SubType(cpu));
  AppendLittle(&header, 2);  // MH_EXECUTE
  AppendLittle(&header, 0);  // ncmds
  AppendLittle(&header, 0);  // sizeofcmds
  AppendLittle(&header, 0);  // flags
  if (is64) AppendLittle(&header, 0);
  return header;
}

// fat_header and fat_arch entries (big-endian), slices 4 KiB apart.
std::string Universal(const std::vector<uint32_t>& cpus) {
  constexpr uint32_t kStep = 4096;
  std::string file;
  AppendBig(&file, 0xcafebabe);
  AppendBig(&file, static_cast<uint32_t>(cpus.size()));
  for (size_t i = 0; i < cpus.size(); ++i) {
    AppendBig(&file, cpus[i]);
    AppendBig(&file, SubType(cpus[i]));
    AppendBig(&file, static_cast<uint32_t>((i + 1) * kStep));
    AppendBig(&file, static_cast<uint32_t>(ThinHeader(cpus[i]).size()));
    AppendBig(&file, 12);  // align 2^12
  }
  for (size_t i = 0; i < cpus.size(); ++i) {
    file.resize((i + 1) * kStep, '\0');
    file += ThinHeader(cpus[i]);
  }
  return file;
}

}  // namespace

std::string EscapeXml(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&apos;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string PlistDocument(const std::string& entries) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<dict>\n" +
         entries + "</dict>\n</plist>\n";
}

std::string PlistString(const std::string& key, const std::string& value) {
  return "  <key>" + EscapeXml(key) + "</key>\n  <string>" + EscapeXml(value) + "</string>\n";
}

std::string PlistBool(const std::string& key, bool value) {
  return "  <key>" + EscapeXml(key) + "</key>\n  " + (value ? "<true/>" : "<false/>") + "\n";
}

std::string InfoPlist(const ProductInstallation& installation) {
  std::string entries = PlistString("CFBundleIdentifier", installation.identifier) +
                        PlistString("CFBundlePackageType", "APPL");
  if (installation.executableName) {
    entries += PlistString("CFBundleExecutable", *installation.executableName);
  }
  if (installation.version) entries += PlistString("CFBundleVersion", *installation.version);
  if (installation.track) entries += PlistString("TrackName", *installation.track);
  if (installation.foliSca) entries += PlistBool("FoliSCA", *installation.foliSca);
  if (installation.pdfRole != PdfRole::kNone) {
    entries +=
        "  <key>CFBundleDocumentTypes</key>\n  <array>\n    <dict>\n"
        "      <key>CFBundleTypeExtensions</key>\n      <array><string>pdf</string></array>\n"
        "      <key>CFBundleTypeName</key>\n      <string>PDF document</string>\n"
        "      <key>CFBundleTypeRole</key>\n      <string>" +
        std::string(installation.pdfRole == PdfRole::kEditor ? "Editor" : "Viewer") +
        "</string>\n    </dict>\n  </array>\n";
  }
  return PlistDocument(entries + installation.extraPlistEntries);
}

std::string MachOExecutable(ProductExecutable kind) {
  switch (kind) {
    case ProductExecutable::kX86_64:
      return ThinHeader(kCpuX86_64);
    case ProductExecutable::kArm64:
      return ThinHeader(kCpuArm64);
    case ProductExecutable::kUniversal:
      return Universal({kCpuX86_64, kCpuArm64});
    case ProductExecutable::kI386:
      return ThinHeader(kCpuI386);
    case ProductExecutable::kRunnable:
    case ProductExecutable::kMissing:
      break;
  }
  return "";
}

std::string InstallerPreferencesPlist(std::optional<bool> singleClient,
                                      std::optional<bool> foliInstalled) {
  std::string entries;
  if (singleClient) entries += PlistBool("bIsSingleClientApp", *singleClient);
  if (foliInstalled) entries += PlistBool("bIsSCFoliAppInstalled", *foliInstalled);
  return PlistDocument(entries);
}

std::string SystemVersionPlist(const std::string& productVersion) {
  return PlistDocument(PlistString("ProductName", "macOS") +
                       PlistString("ProductVersion", productVersion));
}

std::string RequestDocument(const std::string& bundleInfo,
                            const std::optional<std::string>& workflow,
                            const std::string& rootElement) {
  std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + rootElement +
                         ">\n  <bundleInfo>" + EscapeXml(bundleInfo) + "</bundleInfo>\n";
  if (workflow) document += "  <workflow>" + EscapeXml(*workflow) + "</workflow>\n";
  return document + "</" + rootElement + ">\n";
}

std::string DeploymentDocument(const std::vector<std::pair<std::string, std::string>>& properties) {
  std::string document =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Deployment>\n  <Properties>\n";
  for (const auto& [name, value] : properties) {
    document +=
        "    <Property name=\"" + EscapeXml(name) + "\">" + EscapeXml(value) + "</Property>\n";
  }
  return document + "  </Properties>\n</Deployment>\n";
}

std::string InstallProxyDocument(const std::string& packageName) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Proxy>\n  <ThirdPartyComponent>\n"
         "    <Metadata><Name>" +
         EscapeXml(packageName) + "</Name></Metadata>\n  </ThirdPartyComponent>\n</Proxy>\n";
}

std::string UninstallProxyDocument(const std::string& platform, const std::string& removerPath) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Proxy>\n  <InstallDir><Platform>" +
         EscapeXml(platform) +
         "</Platform></InstallDir>\n  <ThirdPartyComponent>\n    <Metadata>\n      <Properties>\n"
         "        <Property name=\"path\">" +
         EscapeXml(removerPath) +
         "</Property>\n      </Properties>\n    </Metadata>\n  </ThirdPartyComponent>\n</Proxy>\n";
}
