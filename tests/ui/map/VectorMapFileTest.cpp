#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "ui/map/VectorMapFile.h"

namespace {

// Writes a map file the way the object archive lays it out.
class ArchiveWriter {
 public:
  ArchiveWriter& Text(const std::string& text) {
    if (text.size() < 0xff) {
      Put<uint8_t>(static_cast<uint8_t>(text.size()));
    } else {
      Put<uint8_t>(0xff);
      Put<uint16_t>(static_cast<uint16_t>(text.size()));
    }
    bytes_ += text;
    return *this;
  }
  template <typename T>
  ArchiveWriter& Put(T value) {
    char raw[sizeof value];
    std::memcpy(raw, &value, sizeof value);
    bytes_.append(raw, sizeof value);
    return *this;
  }
  // A record header: label, type, A to D, E to G, H and the point count.
  ArchiveWriter& Record(const std::string& label, int32_t type, double e = 0.0, double f = 0.0,
                        int32_t count = 0) {
    Text(label).Put<int32_t>(type);
    for (int32_t attribute : {11, 22, 33, 44}) Put<int32_t>(attribute);
    return Put<double>(e).Put<double>(f).Put<double>(2.5).Put<int32_t>(0).Put<int32_t>(count);
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

ArchiveWriter SampleFile() {
  ArchiveWriter file;
  file.Text("VoranSurvey Map Ver:2.0");
  file.Record("field", 1).Put(116.1).Put(39.1).Put(116.2).Put(39.2);
  file.Record("mast", 2).Put(116.15).Put(39.15).Put<int32_t>(7);
  file.Record("road", 7, 116.12, 39.12, 3).Put(116.1).Put(39.1).Put(116.2).Put(39.1).Put(116.2).Put(39.2);
  file.Record("lake", 8, 0.0, 0.0, 3).Put(116.3).Put(39.3).Put(116.4).Put(39.3).Put(116.4).Put(39.4);
  file.Record("unknown", 5);
  return file;
}

VectorMapResult Read(const std::string& bytes, std::vector<CMapObject>& out, bool layerExists = true) {
  std::istringstream in(bytes);
  return ReadVectorMap(in, bytes.size(), layerExists, out);
}

TEST(VectorMapFileTest, ReadsEveryObjectTypeWithItsLabels) {
  ArchiveWriter file = SampleFile();
  file.Record("", -1);
  std::vector<CMapObject> objects;
  uint64_t lastProgress = 0;
  std::istringstream in(file.bytes());
  const VectorMapResult result =
      ReadVectorMap(in, file.bytes().size(), true, objects, [&](uint64_t read) { lastProgress = read; });
  EXPECT_TRUE(result.headerOk);
  EXPECT_TRUE(result.complete);
  EXPECT_EQ(lastProgress, file.bytes().size() - 53);  // progress told up to the 53-byte end record
  ASSERT_EQ(objects.size(), 6u);
  EXPECT_EQ(result.objects, 6u);

  EXPECT_EQ(objects[0].kind, MapKind::kRect);
  EXPECT_EQ(objects[0].points, (std::vector<MapPoint>{{116.1, 39.1}, {116.2, 39.2}}));
  EXPECT_EQ(objects[0].attributes, (std::array<int, 2>{22, 11}));  // B, then A

  EXPECT_EQ(objects[1].kind, MapKind::kIcon);
  EXPECT_EQ(objects[1].value, 7);
  EXPECT_EQ(objects[2].kind, MapKind::kText);  // the point's label, with C, D and G
  EXPECT_EQ(objects[2].text, "mast");
  EXPECT_EQ(objects[2].points, (std::vector<MapPoint>{{116.15, 39.15}}));
  EXPECT_EQ(objects[2].attributes, (std::array<int, 2>{33, 44}));
  EXPECT_EQ(objects[2].size, 2.5);

  EXPECT_EQ(objects[3].kind, MapKind::kPline);
  EXPECT_EQ(objects[3].points.size(), 3u);
  EXPECT_EQ(objects[4].kind, MapKind::kText);  // E and F both set: a label there
  EXPECT_EQ(objects[4].points, (std::vector<MapPoint>{{116.12, 39.12}}));
  EXPECT_EQ(objects[5].kind, MapKind::kPolygon);  // no label: E and F are 0
  EXPECT_EQ(objects[5].points.back(), (MapPoint{116.4, 39.4}));
}

TEST(VectorMapFileTest, AWrongOrShortHeaderAddsNothing) {
  for (const std::string header : {"VoranSurvey Map Ver", "voransurvey Map Ver:2.0", "Other Map Ver:1", ""}) {
    ArchiveWriter file;
    file.Text(header);
    file.Record("field", 1).Put(1.0).Put(2.0).Put(3.0).Put(4.0).Record("", -1);
    std::vector<CMapObject> objects;
    const VectorMapResult result = Read(file.bytes(), objects);
    EXPECT_FALSE(result.headerOk) << header;
    EXPECT_TRUE(objects.empty()) << header;
  }
}

TEST(VectorMapFileTest, AFileCutAnywhereKeepsTheWholeObjectsBeforeTheCut) {
  ArchiveWriter file = SampleFile();
  file.Record("", -1);
  std::vector<CMapObject> whole;
  Read(file.bytes(), whole);
  // Cut at every byte: the objects read are always a prefix of the whole file's, and only the whole
  // file reaches its end record.
  for (size_t cut = 0; cut < file.bytes().size(); ++cut) {
    std::vector<CMapObject> objects;
    const VectorMapResult result = Read(file.bytes().substr(0, cut), objects);
    EXPECT_FALSE(result.complete) << cut;
    ASSERT_LE(objects.size(), whole.size()) << cut;
    for (size_t i = 0; i < objects.size(); ++i) EXPECT_EQ(objects[i].points, whole[i].points) << cut;
  }
}

TEST(VectorMapFileTest, ACountBeyondTheFileStopsWithoutReadingIt) {
  ArchiveWriter file;
  file.Text("VoranSurvey Map Ver:2.0");
  file.Record("field", 1).Put(1.0).Put(2.0).Put(3.0).Put(4.0);
  file.Record("huge", 7, 0.0, 0.0, 0x7fffffff).Put(1.0).Put(2.0);
  std::vector<CMapObject> objects;
  const VectorMapResult result = Read(file.bytes(), objects);
  EXPECT_FALSE(result.complete);
  EXPECT_EQ(objects.size(), 1u);
}

TEST(VectorMapFileTest, WithoutItsLayerTheFileIsReadButNothingCreated) {
  ArchiveWriter file = SampleFile();
  file.Record("", -1);
  std::vector<CMapObject> objects;
  const VectorMapResult result = Read(file.bytes(), objects, false);
  EXPECT_TRUE(result.complete);
  EXPECT_EQ(result.objects, 0u);
  EXPECT_TRUE(objects.empty());
}

TEST(VectorMapFileTest, WideTextsBecomeUtf8) {
  ArchiveWriter file;
  file.Text("VoranSurvey Map Ver:2.0");
  // 0xff, 0xfffe: UTF-16 follows; "路" is U+8DEF.
  file.Put<uint8_t>(0xff).Put<uint16_t>(0xfffe).Put<uint8_t>(1).Put<uint16_t>(0x8def);
  file.Put<int32_t>(2);
  for (int32_t attribute : {1, 2, 3, 4}) file.Put<int32_t>(attribute);
  file.Put(0.0).Put(0.0).Put(1.0).Put<int32_t>(0).Put<int32_t>(0).Put(5.0).Put(6.0).Put<int32_t>(0);
  file.Record("", -1);
  std::vector<CMapObject> objects;
  ASSERT_TRUE(Read(file.bytes(), objects).complete);
  ASSERT_EQ(objects.size(), 2u);
  EXPECT_EQ(objects[1].text, "\xE8\xB7\xAF");
}

}  // namespace
