// Runs the four input-document parsers over arbitrary documents. The bytes
// before the first NUL are the input document, those after it the proxy
// document; "@proxy@" in the input document stands for the proxy's path.
// Every path handed to the shell, and the input document's bytes taken as a
// path, must read back by the shell's quoting rules as one word holding
// exactly the original bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "documents/input_xml_parser.h"
#include "fuzz/discarding_log.h"
#include "fuzz/scratch_file.h"

namespace {

constexpr char kProxyToken[] = "@proxy@";

// Bytes the shell takes literally wherever they stand in an argument.
bool ShellLiteral(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80 ||
         (c != '\0' && std::strchr("%+,-./:@^_", c) != nullptr);
}

// The words of a command line by the shell's rules for backslashes, single
// quotes and blanks. False when the line holds anything else the shell would
// interpret (an unquoted metacharacter, a double quote, an open quote), so
// only plain literal words pass.
bool ShellWords(const std::string& line, std::vector<std::string>* words) {
  bool inWord = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    if (c == ' ') {
      inWord = false;
      continue;
    }
    if (!inWord) words->emplace_back();
    inWord = true;
    if (c == '\\') {
      // A backslash before a line break would join the lines instead.
      if (++i == line.size() || line[i] == '\n') return false;
      words->back() += line[i];
    } else if (c == '\'') {
      const size_t close = line.find('\'', i + 1);
      if (close == std::string::npos) return false;
      words->back() += line.substr(i + 1, close - i - 1);
      i = close;
    } else if (ShellLiteral(c)) {
      words->back() += line[i];
    } else {
      return false;
    }
  }
  return true;
}

void CheckOneWord(const std::string& original) {
  std::vector<std::string> words;
  const std::string escaped = InputXmlParser::EscapeForShell(original);
  if (!ShellWords(escaped, &words) || words.size() != (original.empty() ? 0 : 1)) std::abort();
  if (!original.empty() && words[0] != original) std::abort();
}

template <typename Parse>
std::unique_ptr<OperationParams> Run(Parse parse) {
  OperationParams* params = nullptr;
  int result = 0;
  try {
    result = parse(params);
  } catch (const std::exception&) {
    if (params != nullptr) std::abort();
    return nullptr;
  }
  if ((result == 0) != (params != nullptr)) std::abort();
  return std::unique_ptr<OperationParams>(params);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static DiscardingLog log;
  static const ScratchFile inputFile("skiff-fuzz-input");
  static const ScratchFile proxyFile("skiff-fuzz-proxy");
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const size_t split = bytes.find('\0');
  std::string input = bytes.substr(0, split);
  // A path is a C string: the bytes before the NUL.
  CheckOneWord(input);
  const std::string proxy = split == std::string::npos ? std::string() : bytes.substr(split + 1);
  for (size_t at = input.find(kProxyToken); at != std::string::npos;
       at = input.find(kProxyToken, at + proxyFile.path().size())) {
    input.replace(at, std::strlen(kProxyToken), proxyFile.path());
  }
  const std::string& inputPath = inputFile.Write(input.data(), input.size());
  proxyFile.Write(proxy.data(), proxy.size());

  InputXmlParser parser(log);
  Run([&](OperationParams*& p) { return parser.ParseLaunchInput(inputPath, p); });
  Run([&](OperationParams*& p) { return parser.ParseAppStatusInput(inputPath, "/out.xml", p); });
  const auto install =
      Run([&](OperationParams*& p) { return parser.ParseInstallInput(inputPath, p); });
  if (install != nullptr) {
    std::vector<std::string> words;
    const std::string& path = static_cast<InstallOperationParams&>(*install).pkgPath;
    if (!ShellWords(path, &words) || words.size() != 1) std::abort();
  }
  const auto uninstall =
      Run([&](OperationParams*& p) { return parser.ParseUninstallInput(inputPath, p); });
  if (uninstall != nullptr) {
    // The remover, the remover again as its own first argument, the application.
    std::vector<std::string> words;
    const std::string& command = static_cast<UninstallOperationParams&>(*uninstall).removerCommand;
    if (!ShellWords(command, &words) || words.size() != 3 || words[0] != words[1]) std::abort();
  }
  return 0;
}
