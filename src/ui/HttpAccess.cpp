#include "ui/HttpAccess.h"

#include <algorithm>
#include <boost/asio/ip/address.hpp>
#include <cctype>
#include <filesystem>

#include "core/ntrip/Base64.h"

namespace fs = std::filesystem;

namespace {

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// Compares without stopping at the first difference, so the time taken does not tell how much matched.
bool SameBytes(std::string_view a, std::string_view b) {
  unsigned difference = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

}  // namespace

bool IsLoopbackBind(const std::string& bind) {
  boost::system::error_code error;
  const auto address = boost::asio::ip::make_address(bind, error);
  return !error && address.is_loopback();
}

bool LoopbackHost(std::string_view host) {
  std::string_view name = host;
  if (name.starts_with('[')) {
    const size_t end = name.find(']');
    if (end == std::string_view::npos) return false;
    name = name.substr(1, end - 1);
  } else if (const size_t colon = name.rfind(':'); colon != std::string_view::npos) {
    name = name.substr(0, colon);
  }
  return EqualIgnoringCase(name, "localhost") || IsLoopbackBind(std::string(name));
}

bool BasicAuthorized(std::string_view authorization, std::string_view password) {
  constexpr std::string_view kScheme = "Basic ";
  if (authorization.size() <= kScheme.size() ||
      !EqualIgnoringCase(authorization.substr(0, kScheme.size()), kScheme)) {
    return false;
  }
  const std::string credentials = DecodeBase64(authorization.substr(kScheme.size()));
  std::string expected(kMonitorUser);
  expected += ':';
  expected += password;
  return SameBytes(credentials, expected);
}

bool SameOrigin(std::string_view origin, std::string_view host) {
  if (origin.empty()) return true;
  constexpr std::string_view kScheme = "http://";
  return !host.empty() && origin.size() == kScheme.size() + host.size() &&
         origin.substr(0, kScheme.size()) == kScheme && origin.substr(kScheme.size()) == host;
}

std::string StaticFilePath(const std::string& webRoot, std::string_view target) {
  target = target.substr(0, target.find_first_of("?#"));
  if (webRoot.empty() || target.empty() || target.front() != '/') return {};
  if (target.find("..") != std::string_view::npos ||
      target.find_first_of(std::string_view("\\%\0", 3)) != std::string_view::npos) {
    return {};
  }
  const std::string relative = target == "/" ? std::string("index.html") : std::string(target.substr(1));
  std::error_code error;
  const fs::path root = fs::canonical(webRoot, error);
  if (error) return {};
  const fs::path file = fs::canonical(root / relative, error);
  if (error || !fs::is_regular_file(file, error)) return {};
  // A link inside the folder must not lead out of it.
  const auto [rootEnd, fileAt] = std::mismatch(root.begin(), root.end(), file.begin(), file.end());
  if (rootEnd != root.end()) return {};
  return file.string();
}

std::string_view ContentTypeOf(std::string_view path) {
  const size_t dot = path.rfind('.');
  const std::string_view extension = dot == std::string_view::npos ? std::string_view() : path.substr(dot);
  if (extension == ".html") return "text/html; charset=utf-8";
  if (extension == ".js") return "text/javascript; charset=utf-8";
  if (extension == ".css") return "text/css; charset=utf-8";
  if (extension == ".png") return "image/png";
  if (extension == ".svg") return "image/svg+xml";
  if (extension == ".json") return "application/json";
  return "application/octet-stream";
}

std::string FindWebRoot(const std::string& overridePath, const std::string& executableDirectory,
                        const std::string& programDirectory) {
  if (!overridePath.empty()) return overridePath;
  std::error_code error;
  const fs::path executable(executableDirectory);
  for (const fs::path& candidate :
       {fs::path(programDirectory) / "web", executable / "web", executable / ".." / "web",
        executable / ".." / "share" / "kavro" / "web"}) {
    if (fs::is_regular_file(candidate / "index.html", error))
      return fs::weakly_canonical(candidate, error).string();
  }
  return {};
}
