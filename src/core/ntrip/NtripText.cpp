#include "core/ntrip/NtripText.h"

#include <strings.h>

#include <cstdlib>

size_t FindText(std::string_view text, std::string_view name, bool anyCase) {
  if (!anyCase) return text.find(name);
  if (name.empty()) return 0;
  for (size_t at = 0; at + name.size() <= text.size(); ++at) {
    if (strncasecmp(text.data() + at, name.data(), name.size()) == 0) return at;
  }
  return std::string_view::npos;
}

std::string HeaderValue(std::string_view request, std::string_view name, size_t limit, bool anyCase) {
  const size_t at = FindText(request, name, anyCase);
  if (at == std::string_view::npos) return {};
  std::string_view value = request.substr(at + name.size());
  value = value.substr(0, value.find("\r\n"));
  return std::string(value.substr(0, limit));
}

double NtripVersionOf(std::string_view request, double fallback, bool anyCase) {
  constexpr std::string_view kName = "Ntrip-Version: Ntrip/";
  const size_t at = FindText(request, kName, anyCase);
  if (at == std::string_view::npos) return fallback;
  const std::string rest(request.substr(at + kName.size(), 32));
  return std::atof(rest.c_str());
}

std::string ReplaceAll(std::string text, std::string_view what, std::string_view with) {
  if (what.empty()) return text;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size())) {
    text.replace(at, what.size(), with);
  }
  return text;
}

std::string FieldAt(std::string_view text, char separator, int n) {
  size_t start = 0;
  for (int i = 0; i < n; ++i) {
    const size_t at = text.find(separator, start);
    if (at == std::string_view::npos) return {};
    start = at + 1;
  }
  const size_t end = text.find(separator, start);
  return std::string(
      text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
}
