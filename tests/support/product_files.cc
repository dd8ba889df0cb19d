#include "tests/support/product_files.h"

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
  if (installation.foliSca) {
    entries += Element("key", "FoliSCA") + (*installation.foliSca ? "<true/>" : "<false/>");
  }
  if (installation.pdfRole == PdfRole::kEditor) {
    entries +=
        "<key>CFBundleDocumentTypes</key><array><dict><key>CFBundleTypeExtensions</key><array>"
        "<string>pdf</string></array><key>CFBundleTypeRole</key><string>Editor</string></dict>"
        "</array>";
  }
  return PlistDocument(entries);
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
