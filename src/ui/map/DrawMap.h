#pragma once
// The map engine's data: ordered layers of map objects in geographic degrees (longitude as x,
// latitude as y), each layer with its four switches and the scale range in which it is drawn.
#include <array>
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

struct MapPoint {
  double x = 0.0;  // longitude
  double y = 0.0;  // latitude
  bool operator==(const MapPoint&) const = default;
};

// A rectangle in map coordinates; empty while the minimum lies above the maximum.
struct MapBox {
  double minX = 1000000.0;
  double minY = 1000000.0;
  double maxX = -1000000.0;
  double maxY = -1000000.0;
  bool Empty() const { return minX > maxX || minY > maxY; }
  void Add(const MapPoint& point);
  void Add(const MapBox& box);
  bool operator==(const MapBox&) const = default;
};

// Kinds of map objects; the shape kinds carry the object types of the vector map file.
enum class MapKind : int {
  kRect = 1,      // type 1: the rectangle of two points
  kIcon = 2,      // type 2: a point
  kPline = 7,     // type 7: a line through its points
  kPolygon = 8,   // type 8: a closed area through its points
  kText = 10,     // a label at its point
  kPicture = 20,  // a picture drawn into the rectangle of its two points
  kSymbol = 30,   // a client (base, rover, past position) drawn with its symbol kind
};

struct CMapObject {
  int id = 0;
  MapKind kind = MapKind::kIcon;
  std::vector<MapPoint> points;
  std::string text;  // the label; a client's name; a picture's file name
  // As the vector file passes them on: B and A for shapes, C and D for labels (G in size).
  std::array<int, 2> attributes{};
  double size = 0.0;
  int value = 0;    // the 32-bit value that follows a type-2 point
  int symbol = -1;  // symbol kind of a client
  int colour = 0;   // 0x00BBGGRR
};

struct CMapLayer {
  std::string name;
  bool display = true;
  bool select = true;
  bool label = true;
  bool edit = true;
  double maxDisp = 0.0;               // 0: no limit
  double minDisp = 0.0;               // 0: no limit
  bool background = false;            // loaded from a map file: sent on request, not with every snapshot
  std::map<int, CMapObject> objects;  // by id; ids grow, so this is creation order
};

class DrawMap {
 public:
  // Appends a layer unless one of that name (compared exactly) exists; its index either way.
  size_t AddLayer(CMapLayer layer);
  // The index of a layer, or npos.
  size_t Find(std::string_view name) const;
  static constexpr size_t npos = static_cast<size_t>(-1);

  std::vector<CMapLayer>& layers() { return layers_; }
  const std::vector<CMapLayer>& layers() const { return layers_; }
  CMapLayer& layer(size_t index) { return layers_[index]; }

  // Adds an object to a layer under a new id; the id.
  int Add(size_t layer, CMapObject object);
  int NextId() { return ++lastId_; }

  // True when a layer is drawn at the scale (map units per pixel in x and y): its display switch is
  // on, the scale is not 0, and each axis lies within [MINDISP, MAXDISP], a 0 bound being no limit.
  static bool Drawn(const CMapLayer& layer, double scaleX, double scaleY);
  // The box around every object of every layer; empty when there are none.
  MapBox Extent() const;

 private:
  std::vector<CMapLayer> layers_;
  int lastId_ = 0;
};
