#pragma once
// The command lines of the tools: "--name value", "--name=value" and "--flag" arguments.
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace toolcli {

// Takes an option's value; false when the value is bad.
using Setter = std::function<bool(const std::string&)>;

enum class Parsed { kOk, kHelp, kError };

// Applies every argument: valued options through their setter, flags set to true. kHelp for --help or
// -h; kError with the reason in error for an unknown option, a missing or bad value, or a bare word.
Parsed ReadArguments(const std::vector<std::string>& args, const std::map<std::string, Setter>& valued,
                     const std::map<std::string, bool*>& flags, std::string& error);

}  // namespace toolcli
