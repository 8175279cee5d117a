#include <gtest/gtest.h>

#include <boost/json.hpp>

#include "ui/MonitorJson.h"
#include "ui/StatisticsView.h"

namespace {

TEST(MonitorJsonTest, TextsBecomeValidUtf8) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"plain", "plain"},
      {"基站", "基站"},
      {"a\xFF"
       "b",
       "a\xEF\xBF\xBD"
       "b"},
      {"\xE5\x9F", "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // cut sequence
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // overlong "/"
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
  };
  for (const auto& c : cases) EXPECT_EQ(ValidUtf8(c.in), c.out) << c.in;
}

TEST(MonitorJsonTest, StatisticsStripTexts) {
  Statistics s;
  s.startTime = {2015, 2, 0, 2, 9, 5, 7};
  s.accountCount = 120;
  s.activeAccounts = 80;
  s.usersOnline = 3;
  s.basesOnline = 5;
  s.fixRate = 0.87654;
  const auto fields = StatisticsFields(s, 42, {2015, 2, 0, 3, 10, 6, 9});
  std::vector<std::string> texts;
  for (const auto& field : fields) texts.push_back(field.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"2015/ 2/ 2  9: 5: 7", "120", "80", "42", "3", "0", "87.65%",
                                             "25:01:02"}));
  EXPECT_EQ(fields.front().control, 1015);
  EXPECT_EQ(fields.front().label, "服务开启");
  // A translated label replaces the built-in one; a control the translation lacks keeps its own.
  const auto translated = StatisticsFields(s, 42, {}, DialogTexts{"", {{1015, "Service start"}}});
  EXPECT_EQ(translated.front().label, "Service start");
  EXPECT_EQ(translated.back().label, "运行时间");
  EXPECT_EQ(StatisticsFields(Statistics{}, 0, {}).back().text, "");  // never started
  s.stopTime = {2015, 2, 0, 2, 9, 6, 8};  // stopped: the running time stands at the stop
  EXPECT_EQ(StatisticsFields(s, 42, {2015, 2, 0, 3, 10, 6, 9}).back().text, "0:01:01");
}

TEST(MonitorJsonTest, CloseRequestBody) {
  uint32_t socket = 0;
  EXPECT_TRUE(ParseSocketBody(R"({"socket": 17})", socket));
  EXPECT_EQ(socket, 17u);
  for (const char* bad :
       {"", "17", R"({"socket": -1})", R"({"socket": "17"})", R"({"socket": 4294967296})", "{"}) {
    EXPECT_FALSE(ParseSocketBody(bad, socket)) << bad;
  }
}

TEST(MonitorJsonTest, GridWindowRequestAndRows) {
  GridWindow window;
  EXPECT_TRUE(ParseGridView(R"({"type":"view","first":40,"count":120})", window));
  EXPECT_EQ(window.first, 40u);
  EXPECT_EQ(window.count, 120u);
  EXPECT_TRUE(ParseGridView(R"({"type":"view","first":0,"count":1e9})", window) == false);
  EXPECT_TRUE(ParseGridView(R"({"type":"view","first":0,"count":99999})", window));
  EXPECT_EQ(window.count, GridWindow::kMaxCount);
  for (const char* bad : {"", R"({"first":1,"count":2})", R"({"type":"view","first":-1,"count":2})",
                          R"({"type":"grid","first":1,"count":2})", R"({"type":"view","first":"1","count":2})"}) {
    EXPECT_FALSE(ParseGridView(bad, window)) << bad;
  }

  std::map<uint32_t, GridRow> rows;
  for (uint32_t socket : {30u, 10u, 20u, 40u}) rows[socket].socket = socket;
  const auto sockets = [&](GridWindow w) {
    const boost::json::value message = boost::json::parse(GridMessage(rows, w));
    EXPECT_EQ(message.at("total").as_int64(), 4);
    std::vector<int64_t> listed;
    for (const auto& row : message.at("rows").as_array()) listed.push_back(row.at("socket").as_int64());
    return listed;
  };
  EXPECT_EQ(sockets({1, 2}), (std::vector<int64_t>{20, 30}));  // socket order, from the second row
  EXPECT_EQ(sockets({3, 100}), (std::vector<int64_t>{40}));
  EXPECT_EQ(sockets({9, 5}), (std::vector<int64_t>{}));
}

}  // namespace

namespace {

TEST(MonitorJsonTest, ConsoleRequestsAndMessage) {
  struct Case {
    const char* body;
    bool ok;
    std::string text;
    bool binary, decoder;
  };
  for (const Case& c : {Case{R"({"text":"a\nb"})", true, "a\nb", false, false},
                        Case{R"({"binary":true,"decoder":false})", true, "", true, false}, Case{R"({"name":7})", false, "", false, false},
                        Case{R"({"text":5})", false, "", false, false}, Case{R"({"binary":"yes"})", false, "", false, false},
                        Case{"[1]", false, "", false, false}, Case{"not json", false, "", false, false}}) {
    ConsoleRequest request;
    EXPECT_EQ(ParseConsoleBody(c.body, request), c.ok) << c.body;
    if (!c.ok) continue;
    EXPECT_EQ(request.text, c.text) << c.body;
    EXPECT_EQ(request.binary, c.binary) << c.body;
    EXPECT_EQ(request.decoder, c.decoder) << c.body;
  }
  ConsoleModel console;
  console.Open("r\xff", 9);
  console.AddDecoderLine("<b>");
  const std::string message = ConsoleMessage(console);
  EXPECT_NE(message.find(R"("type":"console")"), std::string::npos);
  EXPECT_NE(message.find(R"("socket":9)"), std::string::npos);
  EXPECT_NE(message.find(R"("lines":["<b>"])"), std::string::npos);
  EXPECT_NE(message.find("r\xef\xbf\xbd"), std::string::npos);  // invalid UTF-8 replaced
}

}  // namespace
