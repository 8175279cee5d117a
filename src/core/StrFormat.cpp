#include "core/StrFormat.h"

#include <cstdarg>
#include <cstdio>

std::string StrFormat(const char* format, ...) {
  char small[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string out(static_cast<size_t>(n), '\0');
  va_start(args, format);
  std::vsnprintf(out.data(), out.size() + 1, format, args);
  va_end(args);
  return out;
}
