#include "app/LogonRegistration.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// One argument of an Exec line: in double quotes with ", `, $ and \ escaped, then the string escape
// of backslashes and the field-code escape of "%" on top.
std::string ExecArgument(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  std::string value;
  for (const char c : quoted) {
    if (c == '\\') value += '\\';
    if (c == '%') value += '%';
    value += c;
  }
  return value;
}

bool HoldsControl(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  }
  return false;
}

}  // namespace

std::string AutostartEntryPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  fs::path base;
  if (config != nullptr && config[0] == '/') {
    base = config;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return {};
    base = fs::path(home) / ".config";
  }
  return (base / "autostart" / "KavroServer.desktop").string();
}

std::string AutostartEntryText(const std::string& binary, const std::string& programDirectory) {
  if (binary.empty() || HoldsControl(binary) || HoldsControl(programDirectory)) return {};
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=KavroServer\n"
         "Comment=GNSS correction caster\n"
         "Exec=" +
         ExecArgument(binary) + " --dir " + ExecArgument(programDirectory) +
         "\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

bool RegisterAtLogon(const std::string& binary, const std::string& programDirectory) {
  const std::string path = AutostartEntryPath();
  const std::string text = AutostartEntryText(binary, programDirectory);
  if (path.empty() || text.empty()) return false;
  std::error_code error;
  fs::create_directories(fs::path(path).parent_path(), error);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  return static_cast<bool>(file);
}

bool UnregisterAtLogon() {
  const std::string path = AutostartEntryPath();
  std::error_code error;
  return !path.empty() && fs::remove(path, error);
}

std::string RunningBinary() {
  std::error_code error;
  const fs::path path = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string() : path.string();
}
