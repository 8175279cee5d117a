#include "ui/map/MapLoader.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "core/StrFormat.h"
#include "ui/FrameView.h"
#include "ui/map/VectorMapFile.h"

namespace {

constexpr int kProgressRange = 100;

// Sends a progress position only when it moved, so that a large file does not flood the main thread.
class ProgressSteps {
 public:
  explicit ProgressSteps(const MapProgress& progress) : progress_(progress) {}
  void Send(int code, int value, const std::string& text = {}) {
    if (progress_) progress_(code, value, text);
  }
  void Move(int step) {
    if (step == lastMove_) return;
    lastMove_ = step;
    Send(ProgressBar::kMove, step);
  }
  void ResetMove() { lastMove_ = -1; }

 private:
  const MapProgress& progress_;
  int lastMove_ = -1;
};

bool LoadVector(const std::string& path, bool layerExists, int share, ProgressSteps& steps,
                LoadedMap& loaded) {
  std::ifstream file(path, std::ios::binary);
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(path, error);
  if (!file || error) return false;
  std::vector<CMapObject> objects;
  const VectorMapResult result = ReadVectorMap(file, size, layerExists, objects, [&](uint64_t read) {
    steps.Move(size == 0 ? share
                         : static_cast<int>(static_cast<double>(read) * share / static_cast<double>(size)));
  });
  if (!result.headerOk) return false;
  loaded.objects = std::move(objects);
  return true;
}

bool LoadPicture(const std::string& path, LoadedMap& loaded) {
  loaded.mime = PictureType(path);
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(path, error);
  if (loaded.mime.empty() || error || size > kMaxPictureBytes) return false;
  std::ifstream file(path, std::ios::binary);
  loaded.bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return file.good() || file.eof();
}

}  // namespace

std::string MapFilePath(const std::string& programDirectory, const std::string& fileName) {
  std::string name = fileName;
  std::replace(name.begin(), name.end(), '\\', '/');
  return programDirectory + name;
}

std::string PictureType(const std::string& fileName) {
  const size_t dot = fileName.rfind('.');
  if (dot == std::string::npos) return {};
  std::string extension = fileName.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == "png") return "image/png";
  if (extension == "jpg" || extension == "jpeg") return "image/jpeg";
  if (extension == "gif") return "image/gif";
  if (extension == "bmp") return "image/bmp";
  if (extension == "webp") return "image/webp";
  return {};
}

std::vector<LoadedMap> LoadMapEntries(const std::string& programDirectory,
                                      const std::vector<MapDataEntry>& entries,
                                      const std::set<std::string>& layers, const MapProgress& progress,
                                      std::stop_token stop) {
  std::vector<LoadedMap> maps;
  ProgressSteps steps(progress);
  steps.Send(ProgressBar::kSetRange, kProgressRange);
  const int count = static_cast<int>(entries.size());
  for (int i = 0; i < count && !stop.stop_requested(); ++i) {
    const MapDataEntry& entry = entries[static_cast<size_t>(i)];
    const int offset = i * kProgressRange / count;
    const int share = (i + 1) * kProgressRange / count - offset;
    steps.Send(ProgressBar::kPaneText, 0, StrFormat("Read Map %s", entry.layerName.c_str()));
    steps.Send(ProgressBar::kSetOffset, offset);
    steps.ResetMove();
    steps.Move(0);
    LoadedMap loaded;
    loaded.layerName = entry.layerName;
    loaded.fileName = entry.fileName;
    const std::string path = MapFilePath(programDirectory, entry.fileName);
    bool ok = false;
    if (entry.dataType == 1) {
      ok = LoadVector(path, layers.contains(entry.layerName), share, steps, loaded);
    } else if (entry.dataType == 0) {
      loaded.picture = true;
      loaded.corner1 = {entry.x1, entry.y1};
      loaded.corner2 = {entry.x2, entry.y2};
      ok = LoadPicture(path, loaded);
    }
    steps.Move(share);
    if (ok) maps.push_back(std::move(loaded));
  }
  steps.Send(ProgressBar::kPaneText, 0, "");
  steps.Send(ProgressBar::kHide, 0);
  return maps;
}

void MapLoader::Start(std::string programDirectory, std::vector<MapDataEntry> entries,
                      std::set<std::string> layers, MapProgress progress,
                      std::function<void(std::vector<LoadedMap>)> done) {
  thread_ = std::jthread([this, directory = std::move(programDirectory), entries = std::move(entries),
                          layers = std::move(layers), progress = std::move(progress),
                          done = std::move(done)](std::stop_token stop) mutable {
    const MapProgress posted = [this, &progress](int code, int value, const std::string& text) {
      post_([progress, code, value, text] { progress(code, value, text); });
    };
    std::vector<LoadedMap> maps = LoadMapEntries(directory, entries, layers, posted, stop);
    if (stop.stop_requested()) return;
    auto result = std::make_shared<std::vector<LoadedMap>>(std::move(maps));
    post_([done = std::move(done), result] { done(std::move(*result)); });
  });
}
