#pragma once
// Browser libraries served to the page from their installed npm copy: Leaflet's dist folder under
// /lib/leaflet/, and nothing else of node_modules.
#include <string>
#include <string_view>

inline constexpr std::string_view kLeafletPrefix = "/lib/leaflet/";

// The file of node_modules/leaflet/dist (beside the page folder, or inside it) that a target under
// kLeafletPrefix names; empty for other targets, a target leaving that folder, or a missing file.
std::string LibraryFilePath(const std::string& webRoot, std::string_view target);
