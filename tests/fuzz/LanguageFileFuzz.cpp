// A language file as the input: numbered texts and dialog texts read from it, and what it lacks added.
#include "app/LanguageTexts.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path =
      fuzz::ScratchFile("INI/Server_English.INI", {reinterpret_cast<const char*>(data), size});
  LanguageTable table("English", "", path);
  TextList texts;
  for (int number : {62446, 62450, 62455, 62459}) table.LoadTexts(number, texts);
  DialogTexts dialog{"Caption", {{1001, "OK"}, {1002, "Cancel"}}};
  const DialogTexts shown = table.ApplyToDialog(128, dialog);
  fuzz::Require(shown.controls.size() == dialog.controls.size(), "a control per control");
  return 0;
}
