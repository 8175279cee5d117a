// The CSV reader on quoting, line ends, a byte-order mark, fields over several lines and broken input;
// the writer's quoting, read back by the reader.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Csv.h"

// Records as gtest prints them in a failure.
void PrintTo(const CsvRecord& record, std::ostream* out) {
  *out << "line " << record.line << ":";
  for (const std::string& field : record.fields) *out << " [" << field << "]";
}

namespace {

struct ReadCase {
  const char* what;
  std::string text;
  std::vector<CsvRecord> records;
  const char* error;  // nullptr when the text is good
};

TEST(CsvTest, ReadsRecordsAndNamesTheLineOfAFault) {
  const ReadCase cases[] = {
      {"plain, LF", "a,b\nc,d\n", {{1, {"a", "b"}}, {2, {"c", "d"}}}, nullptr},
      {"CR LF, no end at the last line", "a,b\r\nc,d", {{1, {"a", "b"}}, {2, {"c", "d"}}}, nullptr},
      {"byte-order mark", "\xEF\xBB\xBFName\r\nx\r\n", {{1, {"Name"}}, {2, {"x"}}}, nullptr},
      {"empty fields", ",a,,\n", {{1, {"", "a", "", ""}}}, nullptr},
      {"quoted comma and quote", "\"a,b\",\"say \"\"hi\"\"\"\n", {{1, {"a,b", "say \"hi\""}}}, nullptr},
      {"quoted empty field", "\"\",x\n", {{1, {"", "x"}}}, nullptr},
      {"field over lines, lines counted",
       "k,\"one\r\ntwo\nthree\"\nnext,1\n",
       {{1, {"k", "one\r\ntwo\nthree"}}, {4, {"next", "1"}}},
       nullptr},
      {"empty lines passed over", "a\n\r\n\nb\n", {{1, {"a"}}, {4, {"b"}}}, nullptr},
      {"UTF-8 kept", "测绘,\"北京,海淀\"\n", {{1, {"测绘", "北京,海淀"}}}, nullptr},
      {"blanks kept", " a , b \n", {{1, {" a ", " b "}}}, nullptr},
      {"nothing", "", {}, nullptr},
      {"quote never closed", "a\n\"b,\nc\n", {}, "line 2: a quoted field is not closed"},
      {"text after the closing quote",
       "a\n\"b\"x,c\n",
       {},
       "line 2: text after the closing quote of a field"},
      {"quote inside a plain field",
       "a\nb\"c\n",
       {},
       "line 2: a quote inside a field that does not begin with one"},
      {"lone carriage return", "a\rb\n", {}, "line 1: a carriage return outside quotes without a line feed"},
  };
  for (const ReadCase& c : cases) {
    std::vector<CsvRecord> records;
    std::string error;
    const bool ok = ReadCsv(c.text, records, error);
    EXPECT_EQ(ok, c.error == nullptr) << c.what;
    if (c.error == nullptr) {
      EXPECT_EQ(records, c.records) << c.what;
    } else {
      EXPECT_EQ(error, c.error) << c.what;
    }
  }
}

TEST(CsvTest, WriterQuotesOnlyWhatNeedsItAndReadsBack) {
  const std::pair<std::string, std::string> fields[] = {{"plain", "plain"},
                                                        {"", ""},
                                                        {"a,b", "\"a,b\""},
                                                        {"say \"hi\"", "\"say \"\"hi\"\"\""},
                                                        {"two\nlines", "\"two\nlines\""},
                                                        {"cr\r", "\"cr\r\""},
                                                        {"测试 1", "测试 1"}};
  std::vector<std::string> all;
  for (const auto& [text, written] : fields) {
    EXPECT_EQ(CsvField(text), written) << text;
    all.push_back(text);
  }
  const std::string line = CsvLine(all);
  EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
  std::vector<CsvRecord> records;
  std::string error;
  ASSERT_TRUE(ReadCsv(line + CsvLine({"x"}), records, error)) << error;
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].fields, all);
  EXPECT_EQ(records[1].line, 3u) << "one line feed inside a field of the first record";
}

}  // namespace
