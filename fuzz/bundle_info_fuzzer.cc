// Splits arbitrary text as the host's bundle information,
// "id_version,id_version,". The main identifier is the start of the first
// entry; the version list holds the text after the first underscore of each
// entry that has one, and the version lookup only ever answers with a key
// taken from that list.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/discarding_log.h"
#include "target/target_app.h"

namespace {

size_t Count(const std::string& text, char c) {
  size_t count = 0;
  for (char each : text) count += each == c;
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static DiscardingLog log;
  static TargetApp app(log, TargetAppEnvironment());
  const std::string text(reinterpret_cast<const char*>(data), size);

  const std::string mainId = app.getMainBundleID(text);
  if (text.compare(0, mainId.size(), mainId) != 0) std::abort();
  if (mainId.find_first_of(",_") != std::string::npos) std::abort();

  const std::vector<std::string> versions = app.getFFCVersionList(text);
  if (versions.size() > Count(text, ',') + 1 || versions.size() > Count(text, '_')) std::abort();
  for (const std::string& version : versions) {
    if (version.find(',') != std::string::npos || text.find(version) == std::string::npos)
      std::abort();
  }

  // The text doubles as the installed version, on the fixed track and on another.
  for (const char* track : {"2041", "Evergreen"}) {
    const std::string found = app.findFFCVersion(versions, text, track);
    if (found.empty()) continue;
    if (found != text.substr(0, text.find('.')) + (track[0] == '2' ? ".1" : ".0")) std::abort();
  }
  return 0;
}
