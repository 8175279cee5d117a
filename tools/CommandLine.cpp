#include "tools/CommandLine.h"

#include <optional>

namespace toolcli {

Parsed ReadArguments(const std::vector<std::string>& args, const std::map<std::string, Setter>& valued,
                     const std::map<std::string, bool*>& flags, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    if (name == "--help" || name == "-h") return Parsed::kHelp;
    if (name.rfind("--", 0) != 0) {
      error = "unexpected argument: " + name;
      return Parsed::kError;
    }
    name.erase(0, 2);
    std::optional<std::string> value;
    if (const size_t equals = name.find('='); equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.erase(equals);
    }
    if (const auto flag = flags.find(name); flag != flags.end() && !value) {
      *flag->second = true;
      continue;
    }
    const auto setter = valued.find(name);
    if (setter == valued.end()) {
      error = "unknown option: --" + name;
      return Parsed::kError;
    }
    if (!value) {
      if (i + 1 >= args.size()) {
        error = "--" + name + " needs a value";
        return Parsed::kError;
      }
      value = args[++i];
    }
    if (!setter->second(*value)) {
      error = "bad value for --" + name + ": " + *value;
      return Parsed::kError;
    }
  }
  return Parsed::kOk;
}

}  // namespace toolcli
