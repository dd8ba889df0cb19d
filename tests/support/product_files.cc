#include "tests/support/product_files.h"

#include <cstdint>

namespace {

// Text for an element's content or a double-quoted attribute value.
std::string Escape(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    escaped += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '"' ? "&quot;" : std::string(1, c);
  }
  return escaped;
}

std::string Element(const std::string& name, const std::string& text) {
  return "<" + name + ">" + Escape(text) + "</" + name + ">";
}

std::string PlistBool(const std::string& key, bool value) {
  return Element("key", key) + (value ? "<true/>" : "<false/>");
}

const char kXmlDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

}  // namespace

std::string PlistDocument(const std::string& entries) {
  return std::string(kXmlDeclaration) +
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\"><dict>" +
         entries + "</dict></plist>\n";
}

std::string InfoPlist(const ProductInstallation& installation) {
  std::string entries;
  for (const auto& [key, value] : std::vector<std::pair<const char*, std::optional<std::string>>>{
           {"CFBundleIdentifier", installation.identifier},
           {"CFBundlePackageType", "APPL"},
           {"CFBundleExecutable", installation.executableName},
           {"CFBundleVersion", installation.version},
           {"TrackName", installation.track}}) {
    if (value) entries += Element("key", key) + Element("string", *value);
  }
  if (installation.foliSca) entries += PlistBool("FoliSCA", *installation.foliSca);
  if (installation.pdfRole == PdfRole::kEditor) {
    entries +=
        "<key>CFBundleDocumentTypes</key><array><dict><key>CFBundleTypeExtensions</key><array>"
        "<string>pdf</string></array><key>CFBundleTypeRole</key><string>Editor</string></dict>"
        "</array>";
  }
  return PlistDocument(entries);
}

std::string InstallerPreferencesPlist(bool singleClient, bool foliInstalled) {
  return PlistDocument(PlistBool("bIsSingleClientApp", singleClient) +
                       PlistBool("bIsSCFoliAppInstalled", foliInstalled));
}

std::string MachOExecutable(ProductExecutable kind) {
  if (kind != ProductExecutable::kX86_64) return "";
  // mach_header_64: magic, x86-64, all subtypes, an executable without load
  // commands; little-endian.
  std::string header;
  for (uint32_t word : {0xfeedfacfu, 0x01000007u, 3u, 2u, 0u, 0u, 0u, 0u}) {
    for (int shift = 0; shift < 32; shift += 8) header.push_back(static_cast<char>(word >> shift));
  }
  return header;
}

std::string RequestDocument(const std::string& bundleInfo,
                            const std::optional<std::string>& workflow) {
  return kXmlDeclaration + std::string("<request>") + Element("bundleInfo", bundleInfo) +
         (workflow ? Element("workflow", *workflow) : "") + "</request>\n";
}

std::string DeploymentDocument(const std::vector<std::pair<std::string, std::string>>& properties) {
  std::string document = kXmlDeclaration + std::string("<Deployment><Properties>\n");
  for (const auto& [name, value] : properties) {
    document += "<Property name=\"" + Escape(name) + "\">" + Escape(value) + "</Property>\n";
  }
  return document + "</Properties></Deployment>\n";
}

std::string InstallProxyDocument(const std::string& packageName) {
  return kXmlDeclaration + std::string("<Proxy><ThirdPartyComponent><Metadata>") +
         Element("Name", packageName) + "</Metadata></ThirdPartyComponent></Proxy>\n";
}

std::string UninstallProxyDocument(const std::string& platform, const std::string& removerPath) {
  return kXmlDeclaration + std::string("<Proxy><InstallDir>") + Element("Platform", platform) +
         "</InstallDir><ThirdPartyComponent><Metadata><Properties><Property name=\"path\">" +
         Escape(removerPath) +
         "</Property></Properties></Metadata></ThirdPartyComponent></Proxy>\n";
}
