// The server link's line framer over blocks cut from the input, and the field cutter on every line.
#include "fuzz/FuzzInput.h"
#include "link/LinkLines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::FuzzInput input(data, size);
  LinkLineFramer framer;
  input.FeedPieces(8, [&](const uint8_t* piece, size_t n, uint8_t) {
    for (const std::string& line : framer.Feed({reinterpret_cast<const char*>(piece), n})) {
      fuzz::Require(line.size() <= kLinkLineLimit, "link line longer than its bound");
      const LinkFields fields = ParseLinkFields(line);
      for (const std::string& field : fields) fuzz::Require(field.size() < kLinkFieldLimit, "field over its bound");
    }
    fuzz::Require(framer.Pending() <= kLinkLineLimit, "framer keeps more than one line");
  });
  return 0;
}
