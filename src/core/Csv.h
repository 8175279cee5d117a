#pragma once
// Comma-separated values as RFC 4180 writes them: fields quoted with '"' when they hold a comma, a quote
// or a line break, a quote inside a quoted field doubled, records ended by CR LF. The reader also takes
// LF line ends, a UTF-8 byte-order mark at the start and line breaks inside quoted fields.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct CsvRecord {
  size_t line = 0;  // the line of the text the record starts on, from 1
  std::vector<std::string> fields;

  bool operator==(const CsvRecord&) const = default;
};

// Splits text into records. Empty lines are passed over. False, with the line and the fault in error
// ("line 4: ..."), when a quoted field is not closed or a quote stands where it cannot.
bool ReadCsv(std::string_view text, std::vector<CsvRecord>& records, std::string& error);

// One field, quoted when it has to be.
std::string CsvField(std::string_view text);
// One record with its CR LF.
std::string CsvLine(const std::vector<std::string>& fields);
