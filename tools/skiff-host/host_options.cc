#include "tools/skiff-host/host_options.h"

#include <cerrno>
#include <cstdlib>

const char kSkiffHostUsage[] =
    "Usage: skiff-host [OPTION]... --mode=MODE --inputXml=PATH --outputXml=PATH\n"
    "                  --pipeName=NAME [-- ARGUMENT...]\n"
    "Starts skiff with the four Skiff options (and any ARGUMENT after \"--\") as they\n"
    "are given, and for install and uninstall acts as its installer host: creates\n"
    "or reuses the FIFOs DIR/NAME_IN and DIR/NAME_OUT, reads skiff's packets, shows\n"
    "the progress and answers the final packet with a terminate packet. Other modes\n"
    "just run skiff. Without --pipeName (or with an empty one) skiff is only run.\n"
    "\n"
    "Options:\n"
    "  --skiff=PATH         the skiff binary (default: skiff beside skiff-host,\n"
    "                       else skiff through PATH)\n"
    "  --pipe-folder=DIR    folder of the FIFOs (default /tmp/; skiff itself always\n"
    "                       uses /tmp/)\n"
    "  --help               show this text\n"
    "\n"
    "Misbehaving on purpose:\n"
    "  --never-connect      never open the FIFOs\n"
    "  --connect-late=MS    wait MS milliseconds before opening them\n"
    "  --terminate-at-once  send the terminate packet as soon as connected, then\n"
    "                       keep reading every packet until skiff closes its end\n"
    "  --close-after=N      close the writing end after N packets have arrived\n"
    "  --send-ids=LIST      before the terminate packet, send one packet with an\n"
    "                       empty text for each id of the comma-separated LIST\n"
    "  --answer-late=MS     wait MS milliseconds before answering the final packet\n"
    "  --split-header       write the terminate header in two parts, 200 ms apart\n"
    "  --oversized          instead of the terminate packet, write a header that\n"
    "                       announces a 409601-byte payload\n"
    "  --flood=N            as soon as connected, write N packets of id 9 with the\n"
    "                       largest payload (409600 bytes) before anything else\n"
    "\n"
    "Output: one line per packet (\"progress 10\", \"error 38\", \"packet 18: TEXT\"),\n"
    "or a progress bar when standard output is a terminal, then\n"
    "\"result: success\" or \"result: failure (CODE)\".\n"
    "\n"
    "Exit status: skiff's, 128 + N when signal N ended it, 125 when the FIFOs could\n"
    "not be made or skiff not started, 2 for a bad command line.\n";

namespace {

bool HasPrefix(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool ParseNumber(const std::string& text, uint64_t limit, uint64_t* value) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long parsed = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed > limit) return false;
  *value = parsed;
  return true;
}

bool ParseMilliseconds(const std::string& name, const std::string& text, uint32_t* value,
                       std::string* error) {
  uint64_t parsed = 0;
  if (!ParseNumber(text, UINT32_MAX, &parsed)) {
    *error = name + " wants a number of milliseconds, not \"" + text + "\"";
    return false;
  }
  *value = static_cast<uint32_t>(parsed);
  return true;
}

bool ParseIdList(const std::string& text, std::vector<uint32_t>* ids, std::string* error) {
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma - start);
    uint64_t id = 0;
    if (!ParseNumber(item, UINT32_MAX, &id)) {
      *error = "--send-ids wants comma-separated packet ids, not \"" + text + "\"";
      return false;
    }
    ids->push_back(static_cast<uint32_t>(id));
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

}  // namespace

bool HostOptions::UsesPipes() const {
  return (mode == "install" || mode == "uninstall") && !pipeName.empty();
}

bool ParseHostOptions(const std::vector<std::string>& arguments, HostOptions* options,
                      std::string* error) {
  for (size_t index = 0; index < arguments.size(); ++index) {
    const std::string& argument = arguments[index];
    if (argument == "--") {
      options->skiffArguments.insert(options->skiffArguments.end(),
                                     arguments.begin() + static_cast<std::ptrdiff_t>(index) + 1,
                                     arguments.end());
      break;
    }
    // Handed on untouched; like skiff, the last value of an option counts.
    if (HasPrefix(argument, "--mode=")) {
      options->mode = argument.substr(7);
      options->skiffArguments.push_back(argument);
    } else if (HasPrefix(argument, "--pipeName=")) {
      options->pipeName = argument.substr(11);
      options->skiffArguments.push_back(argument);
    } else if (HasPrefix(argument, "--inputXml=") || HasPrefix(argument, "--outputXml=")) {
      options->skiffArguments.push_back(argument);
    } else if (argument == "--help" || argument == "-h") {
      options->help = true;
    } else if (HasPrefix(argument, "--skiff=")) {
      options->skiffPath = argument.substr(8);
      if (options->skiffPath.empty()) {
        *error = "--skiff wants a path";
        return false;
      }
    } else if (HasPrefix(argument, "--pipe-folder=")) {
      options->pipeFolder = argument.substr(14);
      if (options->pipeFolder.empty()) {
        *error = "--pipe-folder wants a folder";
        return false;
      }
      if (options->pipeFolder.back() != '/') options->pipeFolder += '/';
    } else if (argument == "--never-connect") {
      options->neverConnect = true;
    } else if (argument == "--terminate-at-once") {
      options->terminateAtOnce = true;
    } else if (argument == "--split-header") {
      options->splitHeader = true;
    } else if (argument == "--oversized") {
      options->oversized = true;
    } else if (HasPrefix(argument, "--close-after=")) {
      uint64_t count = 0;
      if (!ParseNumber(argument.substr(14), INT64_MAX, &count)) {
        *error = "--close-after wants a number of packets, not \"" + argument.substr(14) + "\"";
        return false;
      }
      options->closeAfter = static_cast<int64_t>(count);
    } else if (HasPrefix(argument, "--flood=")) {
      if (!ParseNumber(argument.substr(8), UINT32_MAX, &options->flood)) {
        *error = "--flood wants a number of packets, not \"" + argument.substr(8) + "\"";
        return false;
      }
    } else if (HasPrefix(argument, "--send-ids=")) {
      if (!ParseIdList(argument.substr(11), &options->sendIds, error)) return false;
    } else if (HasPrefix(argument, "--answer-late=")) {
      if (!ParseMilliseconds("--answer-late", argument.substr(14), &options->answerLateMs, error))
        return false;
    } else if (HasPrefix(argument, "--connect-late=")) {
      if (!ParseMilliseconds("--connect-late", argument.substr(15), &options->connectLateMs, error))
        return false;
    } else {
      *error = "unknown option " + argument;
      return false;
    }
  }
  return true;
}
