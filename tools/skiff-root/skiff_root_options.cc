#include "tools/skiff-root/skiff_root_options.h"

#include <cstdlib>

const char kSkiffRootUsage[] =
    "Usage: skiff-root [OPTION]... ROOTDIR [--] COMMAND [ARGUMENT]...\n"
    "Runs COMMAND with ROOTDIR as its \"/\", in a new user and mount namespace.\n"
    "\n"
    "The host's /usr, /etc and /dev are mounted read-only inside and /proc as it\n"
    "is; /bin, /lib, /lib64 and /sbin mirror the host's. Everything else, such as\n"
    "/tmp, /Library and /Applications, is ROOTDIR's own, so files written there\n"
    "stay in ROOTDIR and the host's folders are never touched. ROOTDIR is created\n"
    "if missing. The caller is root inside. COMMAND is looked up in the PATH below\n"
    "unless it holds a slash.\n"
    "\n"
    "Options:\n"
    "  --bind HOST:INSIDE[:ro]  make the host file or folder HOST visible at the\n"
    "                           absolute path INSIDE, read-only with :ro; applied\n"
    "                           in order, after the standard mounts\n"
    "  --env NAME=VALUE         set a variable of COMMAND's environment, which\n"
    "                           otherwise holds only\n"
    "                           PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin\n"
    "                           HOME=/Users/tester\n"
    "  --unset NAME             leave a variable out of that environment\n"
    "  --cwd DIR                working folder inside the root (default /)\n"
    "  --timeout SECONDS        kill COMMAND after this long (default: no limit)\n"
    "  --help                   show this text\n"
    "\n"
    "Exit status: COMMAND's, 128 + N when signal N ended it, 125 when the root\n"
    "could not be entered or COMMAND not started, 2 for a bad command line.\n"
    "\n"
    "Example, trying Skiff in a fake macOS tree:\n"
    "  mkdir -p demo/Applications demo/Library\n"
    "  skiff-root --bind build/app/skiff:/opt/skiff/bin/skiff:ro demo -- \\\n"
    "      /opt/skiff/bin/skiff --mode=getAppStatus --inputXml=/tmp/in.xml \\\n"
    "      --outputXml=/tmp/out.xml --pipeName=p\n";

namespace {

// "--name VALUE" or "--name=VALUE"; advances `index` past what it used.
bool TakeValue(const std::vector<std::string>& arguments, const std::string& name, size_t* index,
               std::string* value, std::string* error) {
  const std::string& argument = arguments[*index];
  if (argument.size() > name.size() && argument.compare(0, name.size() + 1, name + "=") == 0) {
    *value = argument.substr(name.size() + 1);
    return true;
  }
  if (*index + 1 >= arguments.size()) {
    *error = name + " needs a value";
    return false;
  }
  *value = arguments[++*index];
  return true;
}

bool IsOption(const std::string& argument, const std::string& name) {
  return argument == name || argument.compare(0, name.size() + 1, name + "=") == 0;
}

bool ParseBind(const std::string& value, throwaway_root::BindMount* mount, std::string* error) {
  std::string mountText = value;
  if (mountText.size() > 3 && mountText.compare(mountText.size() - 3, 3, ":ro") == 0) {
    mount->readOnly = true;
    mountText.resize(mountText.size() - 3);
  } else if (mountText.size() > 3 && mountText.compare(mountText.size() - 3, 3, ":rw") == 0) {
    mountText.resize(mountText.size() - 3);
  }
  const size_t colon = mountText.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == mountText.size()) {
    *error = "--bind wants HOST:INSIDE[:ro], not " + value;
    return false;
  }
  mount->source = mountText.substr(0, colon);
  mount->target = mountText.substr(colon + 1);
  if (mount->target[0] != '/') {
    *error = "--bind: the path inside the root must be absolute: " + mount->target;
    return false;
  }
  return true;
}

}  // namespace

bool ParseSkiffRootOptions(const std::vector<std::string>& arguments, SkiffRootOptions* options,
                           std::string* error) {
  throwaway_root::RootCommand& command = options->command;
  command.captureOutput = false;
  command.inheritStdin = true;
  command.ownProcessGroup = false;
  size_t index = 0;
  for (; index < arguments.size(); ++index) {
    const std::string& argument = arguments[index];
    std::string value;
    if (argument == "--help" || argument == "-h") {
      options->help = true;
      return true;
    } else if (IsOption(argument, "--bind")) {
      throwaway_root::BindMount mount;
      if (!TakeValue(arguments, "--bind", &index, &value, error) ||
          !ParseBind(value, &mount, error)) {
        return false;
      }
      command.binds.push_back(mount);
    } else if (IsOption(argument, "--env")) {
      if (!TakeValue(arguments, "--env", &index, &value, error)) return false;
      const size_t equals = value.find('=');
      if (equals == std::string::npos || equals == 0) {
        *error = "--env wants NAME=VALUE, not " + value;
        return false;
      }
      command.environment[value.substr(0, equals)] = value.substr(equals + 1);
    } else if (IsOption(argument, "--unset")) {
      if (!TakeValue(arguments, "--unset", &index, &value, error)) return false;
      command.environment.erase(value);
    } else if (IsOption(argument, "--cwd")) {
      if (!TakeValue(arguments, "--cwd", &index, &value, error)) return false;
      command.workingDirectory = value;
    } else if (IsOption(argument, "--timeout")) {
      if (!TakeValue(arguments, "--timeout", &index, &value, error)) return false;
      char* end = nullptr;
      options->timeoutSeconds = std::strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0' || options->timeoutSeconds < 0) {
        *error = "--timeout wants a number of seconds, not " + value;
        return false;
      }
    } else if (argument == "--") {
      ++index;
      break;
    } else if (argument.size() > 1 && argument[0] == '-') {
      *error = "unknown option " + argument;
      return false;
    } else {
      break;
    }
  }
  if (index >= arguments.size()) {
    *error = "no ROOTDIR given";
    return false;
  }
  command.root = arguments[index++];
  if (index < arguments.size() && arguments[index] == "--") ++index;
  if (index >= arguments.size()) {
    *error = "no COMMAND given";
    return false;
  }
  command.argv.assign(arguments.begin() + static_cast<std::ptrdiff_t>(index), arguments.end());
  return true;
}
