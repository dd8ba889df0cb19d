#include "bench/bundle_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "tests/support/skiff_root.h"

namespace {

void MakeDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
    throw std::runtime_error("mkdir " + path + ": " + strerror(errno));
}

void WriteSmallFile(const std::string& path, const std::string& contents) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("open " + path + ": " + strerror(errno));
  const ssize_t written = write(fd, contents.data(), contents.size());
  close(fd);
  if (written != static_cast<ssize_t>(contents.size()))
    throw std::runtime_error("write " + path + " failed");
}

// mach_header_64: magic, x86-64, all subtypes, an executable without load
// commands; little-endian.
std::string MachOExecutable() {
  std::string header;
  for (uint32_t word : {0xfeedfacfu, 0x01000007u, 3u, 2u, 0u, 0u, 0u, 0u}) {
    for (int shift = 0; shift < 32; shift += 8) header.push_back(static_cast<char>(word >> shift));
  }
  return header;
}

void MakeLink(const std::string& target, const std::string& path) {
  if (symlink(target.c_str(), path.c_str()) != 0 && errno != EEXIST)
    throw std::runtime_error("symlink " + path + ": " + strerror(errno));
}

void WriteFramework(const std::string& frameworks, const std::string& name, size_t files) {
  const std::string framework = frameworks + "/" + name + ".framework";
  const std::string version = framework + "/Versions/A";
  MakeDirectory(framework);
  MakeDirectory(framework + "/Versions");
  MakeDirectory(version);
  MakeDirectory(version + "/Headers");
  MakeDirectory(version + "/Resources");
  MakeLink("A", framework + "/Versions/Current");
  MakeLink("Versions/Current/" + name, framework + "/" + name);
  MakeLink("Versions/Current/Headers", framework + "/Headers");
  MakeLink("Versions/Current/Resources", framework + "/Resources");
  WriteSmallFile(version + "/" + name, MachOExecutable());
  ProductInstallation info;
  info.identifier = "com.example." + name;
  info.track.reset();
  info.executableName = name;
  info.pdfRole = PdfRole::kNone;
  WriteSmallFile(version + "/Resources/Info.plist", InfoPlist(info));
  for (size_t index = 0; index + 2 < files; ++index) {
    if (index % 2 == 0) {
      WriteSmallFile(version + "/Headers/" + name + std::to_string(index) + ".h",
                     "#import <Foundation/Foundation.h>\n");
    } else {
      WriteSmallFile(version + "/Resources/String" + std::to_string(index) + ".strings",
                     "\"Open\" = \"Open\";\n");
    }
  }
}

}  // namespace

std::vector<std::string> WriteBundleTree(const std::string& folder, const BundleTreeShape& shape,
                                         const std::string& viewPrefix) {
  MakeDirectory(folder);
  std::vector<std::string> plists;
  for (size_t bundle = 0; bundle < shape.bundles; ++bundle) {
    const std::string name = "App" + std::to_string(bundle);
    const std::string relative = "/" + name + ".app";
    const std::string contents = folder + relative + "/Contents";
    MakeDirectory(folder + relative);
    MakeDirectory(contents);
    MakeDirectory(contents + "/MacOS");
    MakeDirectory(contents + "/Resources");
    MakeDirectory(contents + "/_CodeSignature");
    MakeDirectory(contents + "/Frameworks");

    ProductInstallation info;
    info.identifier = "com.example." + name;
    info.track.reset();
    info.version = "1.0." + std::to_string(bundle);
    info.executableName = name;
    const bool editor = shape.editorEvery != 0 && bundle % shape.editorEvery == 0;
    info.pdfRole = editor ? PdfRole::kEditor : PdfRole::kNone;
    WriteSmallFile(contents + "/Info.plist", InfoPlist(info));
    WriteSmallFile(contents + "/PkgInfo", "APPL????");
    WriteSmallFile(contents + "/MacOS/" + name, MachOExecutable());
    WriteSmallFile(contents + "/_CodeSignature/CodeResources", PlistDocument(""));
    for (size_t index = 0; index < shape.resourceFiles; ++index) {
      WriteSmallFile(contents + "/Resources/Resource" + std::to_string(index) + ".png",
                     std::string(64, 'r'));
    }
    WriteFramework(contents + "/Frameworks", name + "Kit", shape.frameworkFiles);
    plists.push_back(viewPrefix + relative + "/Contents/Info.plist");
  }
  return plists;
}
