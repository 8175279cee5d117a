#pragma once
// The system's default language, taken from the process locale.

// True when the locale (LC_ALL, else LC_MESSAGES, else LANG: the first set and non-empty) begins with "zh".
bool SystemLanguageIsChinese();
