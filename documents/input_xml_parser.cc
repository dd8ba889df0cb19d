#include "documents/input_xml_parser.h"

#include <boost/algorithm/string/trim.hpp>
#include <boost/shared_ptr.hpp>
#include <cctype>
#include <cstring>

#include "log/log_sink.h"
#include "operation/result_codes.h"
#include "xml/xml_document.h"

namespace {

constexpr char kProgramFilesToken[] = "[OrvaneProgramFiles]";
constexpr char kInstallDirToken[] = "[INSTALLDIR]";
constexpr char kProgramFilesFolder[] = "/Applications";
constexpr char kApplicationBelowInstallFolder[] =
    "/Orvane\\ Folian.app/Contents/Frameworks/Folian.framework/Folian.app";

// Replaces the first strlen(token) characters whatever they are: the
// templates are trusted to begin with their token.
std::string ReplaceLeadingToken(const std::string& text, const char* token,
                                const std::string& replacement) {
  const size_t length = std::strlen(token);
  return replacement + (text.size() > length ? text.substr(length) : std::string());
}

std::string Trimmed(std::string text) {
  boost::algorithm::trim(text);
  return text;
}

// Root / "Deployment" / "Properties" / property `name`. The Properties step
// starts again at the root, so a document rooted at Deployment reads the same
// as one that wraps it.
std::string DeploymentProperty(const XmlNode& root, const std::string& name) {
  XmlNode deployment = root;
  InputXmlParser::LookupChildByName("Deployment", root, deployment);
  XmlNode properties = root;
  InputXmlParser::LookupChildByName("Properties", deployment, properties);
  XmlNode property = properties;
  InputXmlParser::LookupChildByNameAttribute(name, properties, property);
  return property.GetText();
}

}  // namespace

void InputXmlParser::LookupChildByName(const std::string& name, const XmlNode& parent,
                                       XmlNode& result) {
  for (const XmlNode& child : parent.GetChildren()) {
    if (child.GetName() == name) {
      result = child;
      return;
    }
  }
}

void InputXmlParser::LookupChildByNameAttribute(const std::string& value, const XmlNode& parent,
                                                XmlNode& result) {
  for (const XmlNode& child : parent.GetChildren()) {
    if (child.GetAttribute("name") == value) {
      result = child;
      return;
    }
  }
}

std::string InputXmlParser::EscapeForShell(const std::string& path) {
  static const char kPlain[] = "-_./+:@,";
  std::string escaped;
  escaped.reserve(path.size() * 2);
  for (const char c : path) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || byte >= 0x80 || std::strchr(kPlain, c) != nullptr) {
      escaped += c;
    } else if (c == '\n') {
      // A backslash before a line break joins lines; quoting keeps it.
      escaped += "'\n'";
    } else {
      escaped += '\\';
      escaped += c;
    }
  }
  return escaped;
}

int InputXmlParser::ReadBundleInfoAndWorkflow(const std::string& inputPath, std::string& bundleInfo,
                                              std::string& workflow) {
  boost::shared_ptr<XmlDocument> document;
  if (!XmlDocument::LoadFromFile(inputPath, document)) {
    log_.Log("Failure in getapp status and launch op internal");
    return kParseFailure;
  }
  log_.Log("In getapp status and launch op internal");
  const XmlNode root = document->GetRootElement();

  XmlNode node = root;
  LookupChildByName("bundleInfo", root, node);
  bundleInfo = Trimmed(node.GetText());
  log_.Log("BundleInfo list: " + bundleInfo);

  node = root;
  LookupChildByName("workflow", root, node);
  const std::string workflowText = Trimmed(node.GetText());
  if (!workflowText.empty()) {
    log_.Log("Recieved workflow id as : " + workflowText);
    workflow = workflowText;
  }
  return 0;
}

int InputXmlParser::ParseLaunchInput(const std::string& inputPath, OperationParams*& params) {
  std::string bundleInfo, workflow;
  const int result = ReadBundleInfoAndWorkflow(inputPath, bundleInfo, workflow);
  if (result != 0) return result;
  log_.Log("BundleID for launch from input xml: " + bundleInfo);
  auto* launch = new LaunchOperationParams(bundleInfo);
  launch->progressIntervalSeconds = 1;
  if (!workflow.empty()) launch->workflow = workflow;
  params = launch;
  return 0;
}

int InputXmlParser::ParseAppStatusInput(const std::string& inputPath, const std::string& outputPath,
                                        OperationParams*& params) {
  std::string bundleInfo, workflow;
  const int result = ReadBundleInfoAndWorkflow(inputPath, bundleInfo, workflow);
  if (result != 0) return result;
  log_.Log("BundleInfo list for Appstatus from input xml: " + bundleInfo);
  auto* status = new AppStatusOperationParams(bundleInfo);
  status->progressIntervalSeconds = 1;
  status->outputXmlPath = outputPath;
  if (!workflow.empty()) status->workflow = workflow;
  params = status;
  return 0;
}

std::string InputXmlParser::ReadProxyFilePath(const XmlNode& root) {
  return DeploymentProperty(root, "proxyFile");
}

int InputXmlParser::ParseInstallInput(const std::string& inputPath, OperationParams*& params) {
  log_.Log("InputXML Path for install op: " + inputPath);
  boost::shared_ptr<XmlDocument> input;
  if (!XmlDocument::LoadFromFile(inputPath, input)) {
    log_.Log("could not load input.xml for install op");
    return kParseFailure;
  }
  log_.Log("Loaded XML");
  const XmlNode root = input->GetRootElement();
  const std::string sourceFolder = DeploymentProperty(root, "installSourcePath");
  const std::string proxyPath = ReadProxyFilePath(root);

  boost::shared_ptr<XmlDocument> proxy;
  if (!XmlDocument::LoadFromFile(proxyPath, proxy)) {
    log_.Log("could not load proxy.xml for install op");
    return kParseFailure;
  }
  const XmlNode proxyRoot = proxy->GetRootElement();
  XmlNode component = proxyRoot;
  LookupChildByName("ThirdPartyComponent", proxyRoot, component);
  XmlNode metadata = proxyRoot;
  LookupChildByName("Metadata", component, metadata);
  XmlNode name = proxyRoot;
  LookupChildByName("Name", metadata, name);
  const std::string packageName = name.GetText();
  log_.Log("Pkg relative path: " + packageName);

  const std::string packagePath = EscapeForShell(sourceFolder + "/" + packageName);
  log_.Log("full pkg extracted path for install: " + packagePath);
  auto* install = new InstallOperationParams(packagePath);
  install->progressIntervalSeconds = 1;
  params = install;
  return 0;
}

int InputXmlParser::ParseUninstallInput(const std::string& inputPath, OperationParams*& params) {
  boost::shared_ptr<XmlDocument> input;
  if (!XmlDocument::LoadFromFile(inputPath, input)) return kParseFailure;
  const XmlNode root = input->GetRootElement();
  const std::string proxyPath = ReadProxyFilePath(root);

  boost::shared_ptr<XmlDocument> proxy;
  if (!XmlDocument::LoadFromFile(proxyPath, proxy)) return kParseFailure;
  const XmlNode proxyRoot = proxy->GetRootElement();

  XmlNode installDir = proxyRoot;
  LookupChildByName("InstallDir", proxyRoot, installDir);
  XmlNode platform = proxyRoot;
  LookupChildByName("Platform", installDir, platform);
  const std::string installFolder =
      ReplaceLeadingToken(platform.GetText(), kProgramFilesToken, kProgramFilesFolder);

  XmlNode component = proxyRoot;
  LookupChildByName("ThirdPartyComponent", proxyRoot, component);
  XmlNode metadata = proxyRoot;
  LookupChildByName("Metadata", component, metadata);
  XmlNode properties = proxyRoot;
  LookupChildByName("Properties", metadata, properties);
  XmlNode pathProperty = proxyRoot;
  LookupChildByNameAttribute("path", properties, pathProperty);
  const std::string removerPath =
      ReplaceLeadingToken(pathProperty.GetText(), kInstallDirToken, installFolder);
  log_.Log("Remover tool path from proxy.xml: " + removerPath);

  const std::string escapedRemover = EscapeForShell(removerPath);
  const std::string applicationPath =
      EscapeForShell(installFolder) + kApplicationBelowInstallFolder;
  const std::string removerCommand = escapedRemover + " " + escapedRemover + " " + applicationPath;

  const std::string bundleId = DeploymentProperty(root, "bundleInfo");
  log_.Log("Bundle ID for uninstall in inputxmlparser: " + bundleId);
  auto* uninstall = new UninstallOperationParams(removerCommand, bundleId);
  uninstall->progressIntervalSeconds = 1;
  params = uninstall;
  return 0;
}
