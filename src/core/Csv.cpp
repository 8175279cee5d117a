#include "core/Csv.h"

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

bool ReadCsv(std::string_view text, std::vector<CsvRecord>& records, std::string& error) {
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) text.remove_prefix(kByteOrderMark.size());
  size_t line = 1;
  size_t i = 0;
  auto fail = [&](size_t at, const char* what) {
    error = "line " + std::to_string(at) + ": " + what;
    return false;
  };
  while (i < text.size()) {
    // An empty line (LF or CR LF alone) holds no record.
    if (text[i] == '\n' || (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
      i += text[i] == '\r' ? 2 : 1;
      ++line;
      continue;
    }
    CsvRecord record;
    record.line = line;
    bool endOfRecord = false;
    while (!endOfRecord) {
      std::string field;
      if (i < text.size() && text[i] == '"') {
        const size_t opened = line;
        ++i;
        for (;;) {
          if (i >= text.size()) return fail(opened, "a quoted field is not closed");
          const char c = text[i++];
          if (c == '"') {
            if (i < text.size() && text[i] == '"') {
              field += '"';
              ++i;
              continue;
            }
            break;
          }
          if (c == '\n') ++line;
          field += c;
        }
      } else {
        while (i < text.size() && text[i] != ',' && text[i] != '\n' && text[i] != '\r') {
          if (text[i] == '"') return fail(line, "a quote inside a field that does not begin with one");
          field += text[i++];
        }
      }
      record.fields.push_back(std::move(field));
      // After a field: a comma, a line end or the end of the text.
      if (i >= text.size()) {
        endOfRecord = true;
      } else if (text[i] == ',') {
        ++i;
      } else if (text[i] == '\n') {
        ++i;
        ++line;
        endOfRecord = true;
      } else if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
        i += 2;
        ++line;
        endOfRecord = true;
      } else {
        return fail(line, text[i] == '\r' ? "a carriage return outside quotes without a line feed"
                                          : "text after the closing quote of a field");
      }
    }
    records.push_back(std::move(record));
  }
  return true;
}

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string CsvLine(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += ',';
    line += CsvField(fields[i]);
  }
  line += "\r\n";
  return line;
}
