#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/ntrip/Sourcetable.h"

namespace {

// Header, body and end of a composed answer; the body is cut at the announced Content-Length.
struct Parsed {
  std::string header;
  std::string body;
  std::string end;
};

Parsed Parse(const std::string& answer) {
  const std::string key = "Content-Length:  ";
  const size_t at = answer.find(key);
  const size_t blank = answer.find("\r\n\r\n", at);
  if (at == std::string::npos || blank == std::string::npos) return {};
  const size_t length = std::stoul(answer.substr(at + key.size(), blank - at - key.size()));
  const size_t start = blank + 4;
  if (start + length > answer.size()) return {};
  return {answer.substr(0, start), answer.substr(start, length), answer.substr(start + length)};
}

std::vector<std::string> Rows(const std::string& body) {
  std::vector<std::string> rows;
  for (size_t pos = 0; pos < body.size();) {
    const size_t end = body.find("\r\n", pos);
    if (end == std::string::npos) {
      rows.push_back(body.substr(pos));  // an unterminated rest shows up as its own row
      break;
    }
    rows.push_back(body.substr(pos, end + 2 - pos));
    pos = end + 2;
  }
  return rows;
}

// Mountpoint names of equal length, so that upstream rows are of equal size.
std::string MountName(int i) { return "M" + std::to_string(1000 + i); }

bool HasRowStarting(const std::string& body, const std::string& start) {
  for (const std::string& row : Rows(body)) {
    if (row.starts_with(start)) return true;
  }
  return false;
}

class SourcetableTest : public ::testing::Test {
 protected:
  ClientEntry& Base(uint32_t socket, const std::string& name, int format, double lat, double lon,
                    const std::string& agent = "NTRIP Test") {
    ClientEntry& e = table[socket];
    e.socket = socket;
    e.userName = name;
    e.clientType = "BASE";
    e.dataFormat = format;
    e.position = {lat, lon, 0};
    e.agent = agent;
    return e;
  }
  CMount& Mount(const std::string& name, int formatIndex, const std::string& description) {
    auto mount = std::make_unique<CMount>();
    mount->name = name;
    mount->formatIndex = formatIndex;
    mount->description = description;
    mounts.push_back(std::move(mount));
    return *mounts.back();
  }
  // The inputs of the table, with another client table when one is given.
  SourcetableInput Input(const ClientTable* other = nullptr) const {
    return {.ntripVersion = 1.0,
            .window = {},
            .mounts = mounts,
            .clientTable = other != nullptr ? *other : table,
            .mountLocal = "CHN",
            .buildNumber = 150202,
            .upstreamServerName = "QVO-Network-Server01",
            .link0Connected = false,
            .fixedBase = false,
            .movingBase = false,
            .now = {2015, 2, 0, 1, 8, 30, 5, 0}};
  }
  std::string Body(const SourcetableInput& input) const {
    const Parsed parsed = Parse(ComposeSourcetable(input));
    EXPECT_EQ(parsed.end, "ENDSOURCETABLE\r\n\r\n\r\n");
    return parsed.body;
  }
  std::string Body() const { return Body(Input()); }
  // Size of the upstream rows alone.
  size_t UpstreamSize() const {
    const ClientTable none;
    return SourcetableBody(Input(&none)).size();
  }

  ClientTable table;
  MountList mounts;
};

TEST_F(SourcetableTest, EmptyTableAnswersHeaderZeroLengthAndEnd) {
  EXPECT_EQ(ComposeSourcetable(Input()),
            "SOURCETABLE 200 OK\r\nServer: KavroGnss-Tavix/150202 \r\nDate: 2015/02/01 08:30:05\r\n"
            "Content-Type: text/plain \r\nContent-Length:  0\r\n\r\nENDSOURCETABLE\r\n\r\n\r\n");
  SourcetableInput early = Input();
  early.buildNumber = 50202;  // a build of 2005 keeps its leading zero
  EXPECT_NE(ComposeSourcetable(early).find("KavroGnss-Tavix/050202 \r\n"), std::string::npos);
}

TEST_F(SourcetableTest, VersionOtherThanOneGetsTheHttpHeaderAndTheSameBody) {
  Base(7, "RTK1", 3, 31.5, 121.25);
  const std::string v1 = ComposeSourcetable(Input());
  const std::string afterServer = v1.substr(v1.find("Date: "));
  for (double version : {2.0, 1.1}) {
    SourcetableInput input = Input();
    input.ntripVersion = version;
    EXPECT_EQ(
        ComposeSourcetable(input),
        "HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\nServer: KavroGnss-Tavix/150202 \r\n" + afterServer);
  }
  EXPECT_TRUE(v1.starts_with("SOURCETABLE 200 OK\r\n"));
}

TEST_F(SourcetableTest, BaseRowsCarryFormatFlagsPositionAndAgentTail) {
  ClientEntry& rtcm3 = Base(7, "RTK1", 3, 31.5, 121.254, " NTRIP Kavro/1.0");
  rtcm3.formatFlagA = 1;
  rtcm3.formatFlagB = 1;
  Base(8, "MSM", 6, -33.456, -70.6, "abc").formatFlagB = 1;
  ClientEntry& cmr = Base(9, "CMR1", 2, 10, 20, "12345678");
  cmr.formatFlagA = 1;  // only RTCM 3 streams show the transformation messages
  Base(10, "OTH", 0, 1, 2, "");
  ClientEntry& rover = Base(11, "rover", 3, 31, 121);
  rover.clientType = "NTRIP";
  Base(12, "", 3, 31, 121);

  EXPECT_EQ(
      Rows(Body()),
      (std::vector<std::string>{
          "STR;RTK1;RTK1;RTCM 3.0;1004(1),1012(1),1005(10),1021(5),1023(5);2;GNSS;KavroGnss;CHN;31.50;121.25;"
          "1;0;QVOavro/1.0;none;B;N;9600;\r\n",
          "STR;MSM;MSM;RTCM 3.2;1074(1),1084(1),1124(1),1005(10),1023(5);2;GNSS;KavroGnss;CHN;-33.46;-70.60;"
          "1;0;QVOabc;none;B;N;9600;\r\n",
          "STR;CMR1;CMR1;RTCM "
          "2.3;1(1),3(10),18(1),19(1);2;GNSS;KavroGnss;CHN;10.00;20.00;1;0;QVO12345678;none;"
          "B;N;9600;\r\n",
          "STR;OTH;OTH;OTHER;1(1),3(1);2;GNSS;KavroGnss;CHN;1.00;2.00;1;0;QVO;none;B;N;9600;\r\n",
      }));
}

TEST_F(SourcetableTest, BaseWithoutPositionIsListedButMakesNoFormatRow) {
  Base(7, "ZERO", 3, 0, 0);
  Base(8, "NOLON", 3, 30, 0);
  SourcetableInput input = Input();
  input.movingBase = true;
  std::string body = Body(input);
  EXPECT_TRUE(HasRowStarting(body, "STR;ZERO;ZERO;RTCM 3.0;"));
  EXPECT_TRUE(HasRowStarting(body, "STR;NOLON;NOLON;"));
  EXPECT_FALSE(HasRowStarting(body, "STR;[RTCM30]"));

  Base(9, "GOOD", 3, 31, 121);
  Base(10, "GOOD2", 3, 32, 122);
  const std::vector<std::string> rows = Rows(Body(input));
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0],
            "STR;[RTCM30];[RTCM30];RTCM "
            "3.0;1004(1),1005(10);2;GNSS;KavroGnss;CHN;0.00;0.00;1;0;QVO;none;B;N;9600;\r\n");
  EXPECT_TRUE(rows[1].starts_with("STR;ZERO;"));
}

TEST_F(SourcetableTest, FixedAndMovingSwitchesChooseWhichBasesMakeFormatRows) {
  Base(7, "NETCMR", 4, 31, 121, "KavroNet-7");
  Base(8, "MSM", 6, 32, 122, " NTRIP KavroNet");
  struct Case {
    bool fixed, moving, cmr, msm;
  };
  for (const Case c : {Case{false, false, false, false}, Case{true, false, true, false},
                       Case{false, true, false, true}, Case{true, true, true, true}}) {
    SourcetableInput input = Input();
    input.fixedBase = c.fixed;
    input.movingBase = c.moving;
    const std::string body = Body(input);
    SCOPED_TRACE(testing::Message() << "fixed " << c.fixed << " moving " << c.moving);
    EXPECT_EQ(HasRowStarting(body, "STR;[CMR];[CMR];CMR +;CMR1(1),CMR(0);2;GNSS;KavroGnss;CHN;"), c.cmr);
    EXPECT_EQ(HasRowStarting(body, "STR;[RTCM32-MSM];[RTCM32-MSM];RTCM 3.2;"), c.msm);
    if (c.cmr && c.msm) {
      EXPECT_LT(body.find("[CMR]"), body.find("[RTCM32-MSM]"));
    }
  }
}

TEST_F(SourcetableTest, UpstreamRowsFollowTheFormatIndexAndComeFirst) {
  Base(7, "LOCAL", 3, 31, 121);
  Mount("UP23", 0, "1(1),3(10)");
  Mount("UP32", 1, std::string(350, 'd'));
  Mount("UPCMR", 2, "CMR(1)");
  Mount("UPX", 3, "ignored");
  const std::vector<std::string> rows = Rows(Body());
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(
      rows[0],
      "STR;UP23;UP23;RTCM 2.3;1(1),3(10);2;GNSS;KavroGnss;CHN;0.00;0.00;1;1;QVOServer01;none;B;N;19200;\r\n");
  EXPECT_EQ(rows[1], "STR;UP32;UP32;RTCM 3.2;" + std::string(300, 'd') +
                         ";2;GNSS;KavroGnss;CHN;0.00;0.00;1;1;QVOServer01;none;B;N;19200;\r\n");
  EXPECT_EQ(rows[2],
            "STR;UPCMR;UPCMR;CMR +;CMR(1);2;GNSS;KavroGnss;CHN;0.00;0.00;1;1;QVOServer01;none;B;N;9600;\r\n");
  EXPECT_TRUE(rows[3].starts_with("STR;LOCAL;"));

  SourcetableInput shortName = Input();
  shortName.upstreamServerName = "QVO";
  EXPECT_TRUE(HasRowStarting(Body(shortName),
                             "STR;UP23;UP23;RTCM 2.3;1(1),3(10);2;GNSS;KavroGnss;CHN;0.00;0.00;1;1;"
                             "QVOQVO;none;"));
}

TEST_F(SourcetableTest, WindowAdmitsBasesOnItsBoundsAndZeroIsNoBound) {
  Base(1, "S29", 3, 29.99, 100);
  Base(2, "S30", 3, 30, -100);
  Base(3, "S35", 3, 35, 0);
  Base(4, "S40", 3, 40, 179);
  Base(5, "S41", 3, 40.01, 100);
  Base(6, "SOUTH", 3, -35, 100);
  SourcetableInput input = Input();
  input.window = {30, 40, 0, 0};
  std::string body = Body(input);
  for (const char* in : {"S30", "S35", "S40"})
    EXPECT_TRUE(HasRowStarting(body, std::string("STR;") + in + ";")) << in;
  for (const char* out : {"S29", "S41", "SOUTH"})
    EXPECT_FALSE(HasRowStarting(body, std::string("STR;") + out + ";"));

  input.window = {0, 36, 50, 0};  // no lower latitude and no upper longitude
  body = Body(input);
  for (const char* in : {"S29", "SOUTH"})
    EXPECT_TRUE(HasRowStarting(body, std::string("STR;") + in + ";")) << in;
  for (const char* out : {"S30", "S35", "S40", "S41"}) {
    EXPECT_FALSE(HasRowStarting(body, std::string("STR;") + out + ";")) << out;
  }
}

TEST_F(SourcetableTest, ClientTextsCannotBreakRowsOrAddLines) {
  Base(7, "bad;name", 3, 31, 121);
  Base(8, "evil\nSTR;FAKE", 3, 31, 121);
  Base(9, "ok", 3, 31, 121, "agent x;y\nz");
  const std::vector<std::string> rows = Rows(Body());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0],
            "STR;ok;ok;RTCM 3.0;1004(1),1012(1),1005(10);2;GNSS;KavroGnss;CHN;31.00;121.00;1;0;QVOnt "
            "x_y_z;none;B;N;"
            "9600;\r\n");
}

// The body is within the limit and made of whole rows.
void ExpectWholeRows(const std::string& body, size_t limit) {
  EXPECT_LE(body.size(), limit);
  for (const std::string& row : Rows(body)) {
    EXPECT_TRUE(row.starts_with("STR;") && row.ends_with(";\r\n")) << row;
  }
}

TEST_F(SourcetableTest, UpstreamRowsStopAtTheBodyLimitAndEndTheBody) {
  for (int i = 0; i < 200; ++i) Mount(MountName(i), 1, "1004(1)");
  Base(7, "LOCAL", 3, 31, 121);
  SourcetableInput input = Input();
  input.movingBase = true;
  const std::string answer = ComposeSourcetable(input);
  const Parsed parsed = Parse(answer);
  EXPECT_EQ(parsed.end, "ENDSOURCETABLE\r\n\r\n\r\n");
  ExpectWholeRows(parsed.body, kSourcetableBodyLimit);
  const std::vector<std::string> rows = Rows(parsed.body);
  const size_t rowSize = rows.front().size();
  EXPECT_EQ(rows.size(), kSourcetableBodyLimit / rowSize);
  EXPECT_TRUE(rows.back().starts_with("STR;" + MountName(static_cast<int>(rows.size()) - 1) + ";"));
  EXPECT_EQ(parsed.body.find("LOCAL"), std::string::npos);
  EXPECT_EQ(parsed.body.find("[RTCM30]"), std::string::npos);
  EXPECT_LE(answer.size(), kOutBufferSize - 1);

  SourcetableInput v2 = input;
  v2.ntripVersion = 2.0;
  v2.buildNumber = 999999;
  EXPECT_LE(ComposeSourcetable(v2).size(), kOutBufferSize - 1);
}

TEST_F(SourcetableTest, Rtcm23RowHasItsOwnInclusiveLimitAndEndsTheBody) {
  Base(7, "B23", 2, 31, 121);
  Base(8, "BCMR", 4, 32, 122);
  SourcetableInput input = Input();
  input.movingBase = true;
  const std::string rowRtcm23 = Rows(Body(input))[0];
  ASSERT_TRUE(rowRtcm23.starts_with("STR;[RTCM23]"));

  // Upstream rows that end exactly where the [RTCM23] row just reaches its limit.
  CMount& filler = Mount("FILL", 1, "");
  const size_t target = kSourcetableRtcm23Limit - rowRtcm23.size();
  while (UpstreamSize() + 300 < target)
    Mount(MountName(static_cast<int>(mounts.size())), 1, std::string(100, 'y'));
  filler.description = std::string(target - UpstreamSize(), 'x');
  std::string body = Body(input);
  EXPECT_EQ(body.substr(target, rowRtcm23.size()), rowRtcm23);
  EXPECT_TRUE(HasRowStarting(body, "STR;[CMR]"));
  EXPECT_TRUE(HasRowStarting(body, "STR;B23;"));

  // One byte more: the [RTCM23] row ends the body, well below the general limit.
  filler.description += "x";
  body = Body(input);
  EXPECT_EQ(body.size(), target + 1);
  EXPECT_FALSE(HasRowStarting(body, "STR;[RTCM23]"));
  EXPECT_FALSE(HasRowStarting(body, "STR;[CMR]"));
  EXPECT_FALSE(HasRowStarting(body, "STR;B23;"));
  ExpectWholeRows(body, kSourcetableRtcm23Limit);
}

TEST_F(SourcetableTest, BaseRowsStopBeforeAStartPassingItsLimit) {
  const std::string pad(120, 'n');
  for (uint32_t i = 0; i < 200; ++i) Base(1000 + i, pad + std::to_string(1000 + i), 3, 31, 121);
  const std::string body = Body();
  ExpectWholeRows(body, kSourcetableBaseStartLimit);
  const std::vector<std::string> rows = Rows(body);
  ASSERT_FALSE(rows.empty());
  const std::string name = pad + std::to_string(1000 + rows.size());
  const size_t nextStart = ("STR;" + name + ";" + name + ";RTCM 3.0;1004(1),1012(1),1005(10)").size();
  EXPECT_GT(body.size() + nextStart, kSourcetableBaseStartLimit);
  EXPECT_LE(body.size() - rows.back().size() + nextStart, kSourcetableBaseStartLimit);
}

TEST(SourcetablePathTest, SplitsAtSemicolonsIntoAtMostFifteenCleanFields) {
  const std::vector<std::string> fields = SplitSourcetablePath("/?filter=STR;;;;;;;;;%3E30%3C40;%3E1\r\n00");
  ASSERT_EQ(fields.size(), 11u);
  EXPECT_EQ(fields[0], "/?filter=STR");
  EXPECT_EQ(fields[9], "%3E30%3C40");
  EXPECT_EQ(fields[10], "%3E100");
  EXPECT_EQ(SplitSourcetablePath(std::string(20, ';')).size(), 15u);
  EXPECT_EQ(SplitSourcetablePath("/"), std::vector<std::string>{"/"});
}

TEST(SourcetablePathTest, FilterBoundsReadTheEscapedOperators) {
  using Bounds = std::pair<double, double>;
  EXPECT_EQ(FilterBounds("%3E30%3C40"), Bounds(30, 40));
  EXPECT_EQ(FilterBounds("%3E%3D30.5%3C%3D-2.25"), Bounds(30.5, -2.25));
  EXPECT_EQ(FilterBounds("%3E10%3E%3D20"), Bounds(20, 0));  // the inclusive operator is looked for first
  EXPECT_EQ(FilterBounds("%3C40"), Bounds(0, 40));
  EXPECT_EQ(FilterBounds("%3E+12x%3C1e1"), Bounds(12, 10));
  EXPECT_EQ(FilterBounds("%3Eabc"), Bounds(0, 0));
  EXPECT_EQ(FilterBounds("30"), Bounds(0, 0));
  EXPECT_EQ(FilterBounds(""), Bounds(0, 0));
}

}  // namespace
