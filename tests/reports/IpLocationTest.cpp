#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <string>

#include "app/Locale.h"
#include "reports/IpLocation.h"

namespace {

const std::string kGbkBeijing = "\xB1\xB1\xBE\xA9";   // 北京
const std::string kGbkHaidian = "\xBA\xA3\xB5\xED";   // 海淀
const std::string kGbkShanghai = "\xC9\xCF\xBA\xA3";  // 上海

std::string Le(uint32_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}
std::string Sz(const std::string& text) { return text + '\0'; }
// A redirect byte (1 place, 2 string) and its 24-bit offset.
std::string To(char kind, uint32_t offset) { return kind + Le(offset, 3); }
uint32_t Ip(uint32_t a) { return a << 24; }
constexpr uint32_t kRest = 0x00FFFFFF;

// Builds a file of this format: header, data area (strings and range records), index, trailer.
struct Builder {
  std::string data, index;
  uint32_t Put(const std::string& bytes) {
    data += bytes;
    return static_cast<uint32_t>(8 + data.size() - bytes.size());
  }
  void Range(uint32_t start, uint32_t end, const std::string& place) {
    Index(start, Put(Le(end, 4) + place));
  }
  void Index(uint32_t start, uint32_t record) { index += Le(start, 4) + Le(record, 3); }
  uint32_t End() const { return static_cast<uint32_t>(8 + data.size() + index.size()); }
  std::string Build(const std::string& trailer = {}) const {
    const auto first = static_cast<uint32_t>(8 + data.size());
    return Le(first, 4) + Le(first + static_cast<uint32_t>(index.size()) - 7, 4) + data + index + trailer;
  }
};

class QQwryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "qqwry-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  bool OpenBytes(const std::string& bytes) {
    std::ofstream((dir / "QQwry.dat").string(), std::ios::binary) << bytes;
    return reader.Open((dir / "QQwry.dat").string());
  }

  std::filesystem::path dir;
  NL_QQwry reader;
};

// Range 10·m.x.x.x in place layout m. A redirected string is followed by a decoy, so that reading
// "after the country string" where a pointer is meant shows.
std::string EightLayouts() {
  Builder b;
  auto str = [&](const std::string& text) {
    const uint32_t at = b.Put(Sz(text));
    b.Put(Sz("decoy"));
    return at;
  };
  for (uint32_t m = 1; m <= 8; ++m) {
    const std::string c = m == 1 ? kGbkBeijing : m == 7 ? kGbkShanghai : "C" + std::to_string(m);
    const std::string a = m == 1 ? kGbkHaidian : "A" + std::to_string(m);
    const std::string layouts[] = {Sz(c) + Sz(a), Sz(c) + To(2, str(a)), To(2, str(c)) + Sz(a),
                                   To(2, str(c)) + To(2, str(a))};
    const std::string& place = layouts[(m - 1) % 4];
    b.Range(Ip(10 * m), Ip(10 * m) | kRest, m > 4 ? To(1, b.Put(place)) : place);
  }
  return b.Build();
}
std::string LayoutText(uint32_t m) {
  return m == 1 ? "北京 海淀" : m == 7 ? "上海 A7" : "C" + std::to_string(m) + " A" + std::to_string(m);
}

TEST_F(QQwryTest, DecodesEachOfTheEightPlaceLayouts) {
  ASSERT_TRUE(OpenBytes(EightLayouts()));
  EXPECT_EQ(reader.RecordCount(), 8u);
  for (uint32_t m = 1; m <= 8; ++m) {
    EXPECT_EQ(reader.LocationText(Ip(10 * m) + 77), LayoutText(m));
    EXPECT_EQ(reader.Mode(), static_cast<int>(m));
  }
  EXPECT_EQ(reader.PlaceText(8), "");
}

TEST_F(QQwryTest, SearchFindsEveryRangeForEveryRecordCount) {
  for (bool adjacent : {false, true}) {
    for (uint32_t n = 1; n <= 9; ++n) {
      SCOPED_TRACE(testing::Message() << n << " records" << (adjacent ? ", adjacent" : ", with gaps"));
      Builder b;
      for (uint32_t i = 1; i <= n; ++i)
        b.Range(Ip(10 * i), adjacent ? Ip(10 * i + 10) - 1 : Ip(10 * i) | kRest,
                Sz("C" + std::to_string(i)) + Sz("A"));
      ASSERT_TRUE(OpenBytes(b.Build()));
      for (uint32_t i = 1; i <= n; ++i) {
        const uint32_t end = adjacent ? Ip(10 * i + 10) - 1 : Ip(10 * i) | kRest;
        for (uint32_t address : {Ip(10 * i), Ip(10 * i) + 1, Ip(10 * i) + kRest / 2, end})
          EXPECT_EQ(reader.LocationText(address), "C" + std::to_string(i) + " A") << address;
        if (!adjacent) {
          EXPECT_EQ(reader.LocationText(end + 1), "") << "gap after " << i;
        }
      }
      for (uint32_t outside : {0u, Ip(10) - 1, Ip(10 * n + 10), 0xFFFFFFFFu})
        EXPECT_EQ(reader.LocationText(outside), "") << outside;
    }
  }
}

TEST_F(QQwryTest, LookupParsesTheAddressAndNeedsAnOpenFile) {
  EXPECT_EQ(NL_QQwry::ParseAddress("255.255.255.255"), 0xFFFFFFFFu);
  EXPECT_EQ(NL_QQwry::ParseAddress("1.2.259.4"), 0x01020304u);  // one byte per part
  EXPECT_EQ(NL_QQwry::ParseAddress("1.2.3.4.5"), 0x01020304u);
  EXPECT_EQ(NL_QQwry::ParseAddress("1..3"), 0x01000300u);
  EXPECT_EQ(NL_QQwry::ParseAddress("12x5.3.4.5"), 0x0C030405u);

  EXPECT_FALSE(reader.Open((dir / "missing.dat").string()));
  EXPECT_FALSE(reader.Open(dir.string()));
  EXPECT_FALSE(OpenBytes(std::string(7, '\x08')));
  EXPECT_EQ(reader.RecordCount(), 0u);
  EXPECT_EQ(reader.Lookup("10.0.0.1"), "");
  EXPECT_EQ(reader.Lookup(""), "请输入IP地址");

  ASSERT_TRUE(OpenBytes(EightLayouts()));
  EXPECT_EQ(reader.Lookup("10.1.2.3"), "北京 海淀");
  EXPECT_EQ(reader.Lookup("30"), "C3 A3");
  EXPECT_EQ(reader.Lookup("2001:db8::1"), "");  // IPv6: outside the file's IPv4 ranges
  EXPECT_EQ(reader.Lookup("::ffff:10.1.2.3"), "");
  EXPECT_EQ(reader.Lookup(""), "请输入IP地址");
  reader.Close();
  EXPECT_EQ(reader.Lookup("10.1.2.3"), "");

  ASSERT_TRUE(OpenBytes(EightLayouts().replace(4, 4, Le(8, 4))));  // last index offset below the first
  EXPECT_EQ(reader.RecordCount(), 0u);
  EXPECT_EQ(reader.Lookup("10.1.2.3"), "");
}

TEST_F(QQwryTest, StringsAreCutAt51Bytes) {
  std::string gbk, utf8;
  for (int i = 0; i < 26; ++i) gbk += kGbkBeijing.substr(0, 2);  // byte 51 starts the 26th character
  for (int i = 0; i < 25; ++i) utf8 += "北";
  Builder b;
  const uint32_t longAt = b.Put(Sz(std::string(60, 'L')));
  b.Range(Ip(10), Ip(10) | kRest, To(2, longAt) + To(2, b.Put(Sz(gbk))));
  b.Range(Ip(20), Ip(20) | kRest, Sz(std::string(60, 'L')) + Sz("AREA"));
  ASSERT_TRUE(OpenBytes(b.Build()));
  EXPECT_EQ(reader.Lookup("10.0.0.1"), std::string(51, 'L') + " " + utf8);
  // The area after a long inline country starts after its terminator, not inside it.
  EXPECT_EQ(reader.Lookup("20.0.0.1"), std::string(51, 'L') + " AREA");
}

TEST(GbkToUtf8Test, ConvertsAndSkipsInvalidBytes) {
  EXPECT_EQ(GbkToUtf8("IDC " + kGbkBeijing), "IDC 北京");
  EXPECT_EQ(GbkToUtf8("A\xFF\x42"), "AB");  // 0xFF is no GBK byte
  EXPECT_EQ(GbkToUtf8(kGbkBeijing.substr(0, 3)), "北");
}

// Every cut of a valid file opens only with a whole header, and each lookup gives either nothing or the
// whole file's text.
TEST_F(QQwryTest, TruncatedFileNeverGivesAWrongText) {
  const std::string bytes = EightLayouts();
  for (size_t length = 0; length < bytes.size(); ++length) {
    SCOPED_TRACE(length);
    EXPECT_EQ(OpenBytes(bytes.substr(0, length)), length >= 8);
    for (uint32_t m = 1; m <= 8; ++m) {
      const std::string text = reader.LocationText(Ip(10 * m) + 1);
      EXPECT_TRUE(text.empty() || text == LayoutText(m)) << text;
    }
    EXPECT_EQ(reader.LocationText(Ip(80)), "");  // needs the last index record, always cut
  }
}

TEST_F(QQwryTest, OffsetsPastTheEndAndRedirectLoopsGiveEmptyResults) {
  ASSERT_TRUE(OpenBytes(Le(0xFFFFFF00, 4) + Le(0xFFFFFFFF, 4) + std::string(40, '\x01')));
  EXPECT_EQ(reader.RecordCount(), 37u);
  EXPECT_EQ(reader.Lookup("1.1.1.1"), "");

  Builder b;
  b.Range(Ip(10), Ip(10) | kRest, Sz("C") + Sz("A"));
  b.Index(Ip(20), 0xFFFFFF);                                                             // range record
  b.Range(Ip(30), Ip(30) | kRest, To(1, 0xFFFFFF));                                      // place data
  b.Range(Ip(40), Ip(40) | kRest, To(2, 0xFFFFF0) + Sz("A"));                            // country
  b.Range(Ip(50), Ip(50) | kRest, Sz("C") + To(2, 0xFFFFF0));                            // area
  b.Range(Ip(60), Ip(60) | kRest, To(1, static_cast<uint32_t>(8 + b.data.size() + 4)));  // to itself
  const uint32_t loop = b.Put(To(1, static_cast<uint32_t>(8 + b.data.size() + 8)));      // and back
  b.Range(Ip(70), Ip(70) | kRest, To(1, loop));
  // A string after the index is never read: the strings of this format lie before it.
  const uint32_t trailer = b.End() + 10 + 7;  // after this 10-byte record and its index entry
  b.Range(Ip(80), Ip(80) | kRest, Sz("C") + To(2, trailer));
  ASSERT_TRUE(OpenBytes(b.Build(Sz("TRAILER"))));
  const char* expected[] = {"C A", "", "", " A", "C ", "", "", "C "};
  for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(reader.LocationText(Ip(10 * i + 10) + 1), expected[i]) << i;
}

// A range record after the index, cut by the end of the file. The lookup hits its start address (so no
// end address is read first) and follows a valid record, whose bytes left in the read area would show.
TEST_F(QQwryTest, RecordCutByTheEndOfTheFileGivesEmptyText) {
  const std::string end = Le(Ip(20) | kRest, 4);
  for (const std::string& cut : {end.substr(0, 2), end + "\x02\x10", end + std::string("\x01\x10\x00", 3),
                                 end + To(2, 8), end + To(2, 8) + "\x02", end + Sz("C") + "\x02\x10"}) {
    SCOPED_TRACE(cut.size());
    Builder b;
    const uint32_t third = b.Put(Le(Ip(30) | kRest, 4) + Sz("C") + Sz("A"));
    b.Range(Ip(10), Ip(10) | kRest, To(2, b.Put(Sz("C"))) + Sz("A"));
    const uint32_t trailer = b.End() + 2 * 7;
    b.Index(Ip(20), trailer);
    b.Index(Ip(30), third);
    // The last index offset moves past the trailer, so that its strings count as lying before it.
    ASSERT_TRUE(OpenBytes(b.Build(cut).replace(4, 4, Le(trailer + 2 * 7, 4))));
    ASSERT_EQ(reader.Lookup("10.0.0.1"), "C A");
    EXPECT_EQ(reader.Lookup("20.0.0.0"), "");
  }
}

TEST(LocaleTest, FirstSetVariableDecidesChinese) {
  const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::optional<std::string> saved[3];
  for (int i = 0; i < 3; ++i)
    if (const char* value = getenv(names[i])) saved[i] = value;
  auto chinese = [&](std::initializer_list<const char*> values) {
    int i = 0;
    for (const char* value : values) value ? setenv(names[i++], value, 1) : unsetenv(names[i++]);
    return SystemLanguageIsChinese();
  };
  EXPECT_TRUE(chinese({"zh_CN.UTF-8", "en_US.UTF-8", "en_US.UTF-8"}));
  EXPECT_FALSE(chinese({"C", "zh_CN.UTF-8", "zh_CN.UTF-8"}));
  EXPECT_FALSE(chinese({"", "en_GB.UTF-8", "zh_CN.UTF-8"}));
  EXPECT_TRUE(chinese({nullptr, "zh_TW.Big5", "en_US.UTF-8"}));
  EXPECT_TRUE(chinese({"", "", "zh_CN.GBK"}));
  EXPECT_FALSE(chinese({nullptr, nullptr, "en_ZH"}));
  EXPECT_FALSE(chinese({nullptr, nullptr, nullptr}));
  for (int i = 0; i < 3; ++i) saved[i] ? setenv(names[i], saved[i]->c_str(), 1) : unsetenv(names[i]);
}

}  // namespace
