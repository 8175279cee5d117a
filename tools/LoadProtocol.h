#pragma once
// Texts the load tool sends and reads: NTRIP requests, reply headers, GGA sentences, Base64.
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace ntripload {

inline constexpr std::string_view kAgent = "NTRIP KavroLoad/1.0";

// Standard Base64 with "=" padding (for Basic credentials).
std::string EncodeBase64(std::string_view bytes);

// "SOURCE <password> /<mount>" with the agent and the closing blank line; without the slash when
// slash is false (as str2str sends it).
std::string SourceRequest(std::string_view password, std::string_view mount, bool slash = true);

// "GET /<mount>" with Basic credentials; version 2 adds the HTTP/1.1 and Ntrip-Version lines.
std::string RoverRequest(std::string_view host, std::string_view mount, std::string_view user,
                         std::string_view password, bool ntrip2);

// Replaces every "%d" in pattern by the number (user names unique per rover).
std::string Numbered(std::string_view pattern, int number);

// A caster's answer to a request, read from the first bytes of the connection.
struct ReplyHeader {
  enum class State { Incomplete, Accepted, Refused };
  State state = State::Incomplete;
  size_t length = 0;      // bytes of the header (stream data follows)
  std::string firstLine;  // without "\r\n"
};

// Reads the reply at the start of bytes. A rover's header ends with a blank line; a source's answer
// may be the status line alone ("ICY 200 OK\r\n"), so sources pass headerEndsAtFirstLine.
// "ICY 200" and "HTTP/1.x 200" are accepted; any other complete first line is a refusal.
ReplyHeader ReadReplyHeader(std::string_view bytes, bool headerEndsAtFirstLine);

// A position for GGA sentences: degrees (north and east positive) and ellipsoidal height in metres.
struct GgaPosition {
  double latitude = 0;
  double longitude = 0;
  double height = 0;
};

// "$GPGGA,...*CS\r\n" with a fixed RTK-free solution (quality 1, 12 satellites) at the given UTC time.
std::string MakeGga(const GgaPosition& position, std::chrono::system_clock::time_point utc);

}  // namespace ntripload
