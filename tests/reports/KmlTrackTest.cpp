// The daily KML file of rover positions.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "reports/KmlTrack.h"

namespace {

namespace fs = std::filesystem;

const std::string kSkeletonHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<kml xmlns=\"http://earth.google.com/kml/2.1\">\n"
    "<Folder>\n"
    "     <name>GPS-GPRS工作区0201</name>\n"
    "     <open>1</open>\n";
const std::string kClosing = "</Folder>\n</kml>\n";

std::string Placemark(const std::string& name, const std::string& time, const std::string& longitude,
                      const std::string& latitude, const std::string& height) {
  return "     <Placemark>\n     <name>" + name + "</name>\n     <description>" + time +
         "</description>\n     <LookAt>\n        <longitude>" + longitude +
         "</longitude>\n        <latitude>" + latitude +
         "</latitude>\n        <altitude>0</altitude>\n        <range>500</range>\n        <tilt>0</tilt>\n"
         "        <heading>0</heading>\n     </LookAt>\n"
         "     <styleUrl>root://styleMaps#default+nicon=0x307+hicon=0x317</styleUrl>\n     <Point>\n"
         "     <coordinates>" +
         longitude + "," + latitude + "," + height + "</coordinates>\n     </Point>\n     </Placemark>\n";
}

class KmlTrackTest : public ::testing::Test {
 protected:
  KmlTrackTest() {
    directory = fs::temp_directory_path() / ("kavro-kml-" + std::to_string(getpid()));
    fs::remove_all(directory);
    fs::create_directories(directory);
  }
  ~KmlTrackTest() override { fs::remove_all(directory); }
  std::string Dir() const { return directory.string() + "/"; }
  std::string Read(const std::string& name) const {
    std::ifstream in(directory / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  fs::path directory;
  const LocalTime now{2015, 2, 0, 1, 8, 4, 9, 0};
};

TEST_F(KmlTrackTest, FirstPointCreatesTheFileAndPointsGoBeforeTheClosingLines) {
  EXPECT_EQ(KmlFileName(now), "20150201.kml");
  ASSERT_EQ(AddKmlPoint(Dir(), now, "rover1", -33.44985, -70.68135, 570.8), 1);
  const std::string first =
      Placemark("rover1", "20150201-08:04:09", "-70.6813500000000", "-33.4498500000000", "570.80");
  EXPECT_EQ(Read("20150201.kml"), kSkeletonHead + first + kClosing);

  ASSERT_EQ(AddKmlPoint(Dir(), now, "rover1", 30.252056666666667, 114.075, -3.456), 1);
  const std::string second =
      Placemark("rover1", "20150201-08:04:09", "114.0750000000000", "30.2520566666667", "-3.46");
  EXPECT_EQ(Read("20150201.kml"), kSkeletonHead + first + second + kClosing);

  // The next day starts a file of its own.
  LocalTime tomorrow = now;
  tomorrow.day = 2;
  ASSERT_EQ(AddKmlPoint(Dir(), tomorrow, "r", 1.0, 2.0, 3.0), 1);
  EXPECT_NE(Read("20150202.kml").find("<name>GPS-GPRS工作区0202</name>"), std::string::npos);
}

TEST_F(KmlTrackTest, ClientNamesCannotBreakTheXml) {
  const std::string name = "a<b>&\"c'</name><x>\x01\xff张三";
  ASSERT_EQ(AddKmlPoint(Dir(), now, name, 1.5, -2.5, 0.0), 1);
  ASSERT_EQ(AddKmlPoint(Dir(), now, "second", -89.9, -179.9, 12.0), 1);
  const std::string text = Read("20150201.kml");
  EXPECT_NE(text.find("<name>a&lt;b&gt;&amp;&quot;c&#39;&lt;/name&gt;&lt;x&gt;??张三</name>"),
            std::string::npos);

  // An XML parser reads the file: two placemarks with their names and coordinates.
  if (std::system("python3 -c 'import xml.etree.ElementTree' 2>/dev/null") != 0)
    GTEST_SKIP() << "python3 with xml.etree is not available";
  const std::string script =
      "import sys, xml.etree.ElementTree as E\n"
      "ns = {'k': 'http://earth.google.com/kml/2.1'}\n"
      "root = E.parse(sys.argv[1]).getroot()\n"
      "marks = root.findall('k:Folder/k:Placemark', ns)\n"
      "assert len(marks) == 2, len(marks)\n"
      "assert marks[0].find('k:name', ns).text == \"a<b>&\\\"c'</name><x>??\\u5f20\\u4e09\", "
      "marks[0].find('k:name', "
      "ns).text\n"
      "assert marks[1].find('k:Point/k:coordinates', ns).text == "
      "'-179.9000000000000,-89.9000000000000,12.00'\n";
  std::ofstream(directory / "check.py") << script;
  const std::string command =
      "python3 " + (directory / "check.py").string() + " " + (directory / "20150201.kml").string();
  EXPECT_EQ(std::system(command.c_str()), 0);
}

TEST_F(KmlTrackTest, DamagedOrMissingFiles) {
  // A file cut short is written over from its start; one with another tail loses its last 17 bytes.
  std::ofstream(directory / "20150201.kml") << "short";
  ASSERT_EQ(AddKmlPoint(Dir(), now, "r", 1.0, 2.0, 3.0), 1);
  EXPECT_EQ(Read("20150201.kml").rfind("     <Placemark>\n", 0), 0u);
  std::ofstream(directory / "20150201.kml") << std::string(20, 'x');
  ASSERT_EQ(AddKmlPoint(Dir(), now, "r", 1.0, 2.0, 3.0), 1);
  EXPECT_EQ(Read("20150201.kml").rfind("xxx     <Placemark>\n", 0), 0u);

  EXPECT_EQ(AddKmlPoint(Dir() + "missing/", now, "r", 1.0, 2.0, 3.0), 0);
}

TEST_F(KmlTrackTest, FilesThatCannotBeWrittenFail) {
  // The directory is a regular file (nothing can be created, even as root), or the day's file is a
  // full disk (it opens, and every write fails).
  std::ofstream(directory / "plain") << "x";
  fs::create_directories(directory / "full");
  fs::create_symlink("/dev/full", directory / "full" / "20150201.kml");
  for (const char* sub : {"plain/", "full/"}) {
    EXPECT_EQ(AddKmlPoint(Dir() + sub, now, "r", 1.0, 2.0, 3.0), 0) << sub;
  }
}

}  // namespace
