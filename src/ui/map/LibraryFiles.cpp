#include "ui/map/LibraryFiles.h"

#include "ui/HttpAccess.h"

std::string LibraryFilePath(const std::string& webRoot, std::string_view target) {
  if (webRoot.empty() || !target.starts_with(kLeafletPrefix)) return {};
  const std::string rest = "/" + std::string(target.substr(kLeafletPrefix.size()));
  if (rest == "/") return {};
  for (const char* modules : {"/../node_modules/leaflet/dist", "/node_modules/leaflet/dist"}) {
    std::string path = StaticFilePath(webRoot + modules, rest);
    if (!path.empty()) return path;
  }
  return {};
}
