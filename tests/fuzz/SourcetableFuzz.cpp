// The sourcetable request path and its filter, and the table composed for bases whose names,
// agents, formats and positions come from the input.
#include <cstring>

#include "core/ntrip/Sourcetable.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::FuzzInput input(data, size);
  const uint8_t options = input.TakeByte();
  ClientTable table;
  MountList mounts;
  std::string path;
  uint32_t socket = 10;
  // Pieces: the first is the request path; each further one a base, its first bytes its format and
  // position, the rest its name and agent cut at the first blank.
  input.FeedPieces(8, [&](const uint8_t* piece, size_t n, uint8_t) {
    const std::string text(reinterpret_cast<const char*>(piece), n);
    if (socket == 10 && path.empty()) {
      path = text;
      ++socket;
      return;
    }
    ClientEntry& e = table[socket++];
    e.clientType = "BASE";
    e.dataFormat = piece[0] % 9;
    e.position = {n > 1 ? piece[1] - 128.0 : 0.0, n > 2 ? (piece[2] - 128) * 1.5 : 0.0, 10.0};
    const size_t blank = text.find(' ', 3);
    e.userName = text.substr(std::min<size_t>(3, n), blank == std::string::npos ? std::string::npos : blank - 3);
    if (blank != std::string::npos) e.agent = text.substr(blank + 1);
  });

  const std::vector<std::string> fields = SplitSourcetablePath(path);
  fuzz::Require(!fields.empty() && fields.size() <= 15, "path fields");
  SourcetableWindow window;
  if (fields.size() > 10) {
    std::tie(window.minLat, window.maxLat) = FilterBounds(fields[9]);
    std::tie(window.minLon, window.maxLon) = FilterBounds(fields[10]);
  }
  const SourcetableInput in{.ntripVersion = (options & 1) ? 2.0 : 1.0,
                            .window = window,
                            .mounts = mounts,
                            .clientTable = table,
                            .mountLocal = "CHN",
                            .buildNumber = 150202,
                            .upstreamServerName = "",
                            .link0Connected = false,
                            .fixedBase = (options & 2) != 0,
                            .movingBase = (options & 4) != 0,
                            .now = {2015, 2, 1, 2, 9, 5, 7, 0}};
  const std::string body = SourcetableBody(in);
  fuzz::Require(body.size() <= kSourcetableBodyLimit, "sourcetable body over its limit");
  // Every row is one line: a client's text cannot start a row of its own.
  size_t start = 0;
  while (start < body.size()) {
    const size_t end = body.find("\r\n", start);
    fuzz::Require(end != std::string::npos, "row without its line end");
    const std::string_view row(body.data() + start, end - start);
    fuzz::Require(row.starts_with("STR;") || row.starts_with("CAS;") || row.starts_with("NET;"), "row kind");
    fuzz::Require(row.find('\r') == std::string_view::npos && row.find('\n') == std::string_view::npos,
                  "line break inside a row");
    start = end + 2;
  }
  ComposeSourcetable(in);
  return 0;
}
