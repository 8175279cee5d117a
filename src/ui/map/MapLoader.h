#pragma once
// Loading the background maps of the map set: vector map files and pictures, read off the main thread,
// with the status-bar progress (message 3124) and the result handed back to the main thread.
#include <functional>
#include <set>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "ui/map/RoveView.h"

// One row of table MapData.
struct MapDataEntry {
  std::string layerName;
  std::string fileName;  // relative to the program directory
  double x1 = 0.0, y1 = 0.0, x2 = 0.0, y2 = 0.0;
  int dataType = 0;  // 1 vector map file, 0 picture
};

// Largest picture file kept for the page.
inline constexpr uint64_t kMaxPictureBytes = 16 * 1024 * 1024;

// The 3124 progress codes as the loading uses them; value for the numeric codes, text for the others.
using MapProgress = std::function<void(int code, int value, const std::string& text)>;

// The path of a map file: the program directory (ending in "/") joined with the entry's name, whose
// "\" separators become "/".
std::string MapFilePath(const std::string& programDirectory, const std::string& fileName);
// The media type of a picture by its extension (png, jpg, jpeg, gif, bmp, webp); empty for others.
std::string PictureType(const std::string& fileName);

// Loads the entries in order; vector files count for layers named in layers. A file that is missing,
// unreadable or has a wrong header loads nothing and the next entry is read. Progress runs from 0 to
// 100 over the entries, a vector file advancing by the share of it read. Stops early when asked.
std::vector<LoadedMap> LoadMapEntries(const std::string& programDirectory,
                                      const std::vector<MapDataEntry>& entries,
                                      const std::set<std::string>& layers, const MapProgress& progress,
                                      std::stop_token stop = {});

class MapLoader {
 public:
  // Runs a function on the main thread.
  using Poster = std::function<void(std::function<void()>)>;

  explicit MapLoader(Poster post) : post_(std::move(post)) {}
  // Asks a running load to stop and waits for it.
  ~MapLoader() = default;
  MapLoader(const MapLoader&) = delete;
  MapLoader& operator=(const MapLoader&) = delete;

  // Starts the loading thread. progress and done are called on the main thread; done gets the maps.
  void Start(std::string programDirectory, std::vector<MapDataEntry> entries, std::set<std::string> layers,
             MapProgress progress, std::function<void(std::vector<LoadedMap>)> done);

 private:
  Poster post_;
  std::jthread thread_;  // last: joined before the rest goes
};
