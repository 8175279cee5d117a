#pragma once
// printf-style formatting into a std::string, for the fixed log and reply formats.
#include <string>

std::string StrFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
