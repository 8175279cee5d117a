// The settings file and the relay file (the input cut at its first zero byte), read as at start.
#include "app/ProfileFile.h"
#include "app/Settings.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const size_t cut = text.find('\0');
  const std::string settingsFile = fuzz::ScratchFile("INI/KavroServer.INI", text.substr(0, cut));
  const std::string relayFile =
      fuzz::ScratchFile("USER.NAME", cut == std::string_view::npos ? std::string_view() : text.substr(cut + 1));
  ReadSettings(settingsFile, relayFile);

  // A key written back reads back as written, cut at its first line break, and leaves the other
  // keys as they were.
  ProfileFile file;
  file.Load(settingsFile);
  const std::string before = file.GetString("SYSTEM", "Language", "-");
  file.SetString("NET", "IP0", "127.0.0.1\r\nInjected=1");
  fuzz::Require(file.GetString("NET", "IP0", "") == "127.0.0.1", "written key reads back");
  fuzz::Require(file.GetString("SYSTEM", "Language", "-") == before, "other key unchanged");
  return 0;
}
