#include "app/Locale.h"

#include <cstdlib>
#include <cstring>

bool SystemLanguageIsChinese() {
  constexpr const char* kVariables[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  for (const char* name : kVariables) {
    const char* value = std::getenv(name);
    if (value && *value) return std::strncmp(value, "zh", 2) == 0;
  }
  return false;
}
