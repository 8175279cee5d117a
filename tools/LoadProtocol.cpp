#include "tools/LoadProtocol.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace ntripload {
namespace {

bool StartsWith(std::string_view text, std::string_view head) { return text.substr(0, head.size()) == head; }

// "ddmm.mmmmm" (or "dddmm.mmmmm") and the hemisphere letter, rounded in whole 1e-5 minutes.
std::string Angle(double degrees, int degreeDigits, char positive, char negative) {
  const long long units = std::llround(std::fabs(degrees) * 60.0 * 1e5);
  const long long whole = units / 6000000;
  const long long minutes = units % 6000000;
  char text[40];
  std::snprintf(text, sizeof text, "%0*lld%02lld.%05lld,%c", degreeDigits, whole, minutes / 100000,
                minutes % 100000, degrees < 0 ? negative : positive);
  return text;
}

}  // namespace

std::string EncodeBase64(std::string_view bytes) {
  static constexpr char kSymbols[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = static_cast<uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<uint8_t>(bytes[i + 2]);
    out.push_back(kSymbols[(group >> 18) & 63]);
    out.push_back(kSymbols[(group >> 12) & 63]);
    out.push_back(i + 1 < bytes.size() ? kSymbols[(group >> 6) & 63] : '=');
    out.push_back(i + 2 < bytes.size() ? kSymbols[group & 63] : '=');
  }
  return out;
}

std::string SourceRequest(std::string_view password, std::string_view mount, bool slash) {
  return "SOURCE " + std::string(password) + (slash ? " /" : " ") + std::string(mount) +
         "\r\nSource-Agent: " + std::string(kAgent) + "\r\n\r\n";
}

std::string RoverRequest(std::string_view host, std::string_view mount, std::string_view user,
                         std::string_view password, bool ntrip2) {
  std::string request = "GET /" + std::string(mount) + (ntrip2 ? " HTTP/1.1\r\n" : " HTTP/1.0\r\n");
  if (ntrip2) request += "Host: " + std::string(host) + "\r\nNtrip-Version: Ntrip/2.0\r\n";
  request += "User-Agent: " + std::string(kAgent) + "\r\n";
  request += "Authorization: Basic " + EncodeBase64(std::string(user) + ":" + std::string(password)) + "\r\n";
  if (ntrip2) request += "Connection: close\r\n";
  return request + "\r\n";
}

std::string Numbered(std::string_view pattern, int number) {
  std::string out;
  const std::string digits = std::to_string(number);
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 'd') {
      out += digits;
      ++i;
    } else {
      out.push_back(pattern[i]);
    }
  }
  return out;
}

ReplyHeader ReadReplyHeader(std::string_view bytes, bool headerEndsAtFirstLine) {
  ReplyHeader reply;
  const size_t lineEnd = bytes.find("\r\n");
  if (lineEnd == std::string_view::npos) return reply;
  reply.firstLine = std::string(bytes.substr(0, lineEnd));
  const std::string_view line = reply.firstLine;
  const bool ok =
      StartsWith(line, "ICY 200") || StartsWith(line, "HTTP/1.0 200") || StartsWith(line, "HTTP/1.1 200");
  if (!ok) {
    reply.state = ReplyHeader::State::Refused;
    reply.length = lineEnd + 2;
    return reply;
  }
  if (headerEndsAtFirstLine) {
    // A blank line right after the status line belongs to the reply.
    reply.length = StartsWith(bytes.substr(lineEnd), "\r\n\r\n") ? lineEnd + 4 : lineEnd + 2;
  } else {
    const size_t end = bytes.find("\r\n\r\n");
    if (end == std::string_view::npos) return reply;
    reply.length = end + 4;
  }
  reply.state = ReplyHeader::State::Accepted;
  return reply;
}

std::string MakeGga(const GgaPosition& position, std::chrono::system_clock::time_point utc) {
  using namespace std::chrono;
  const auto centis = duration_cast<milliseconds>(utc.time_since_epoch()).count() / 10;
  const std::time_t seconds = static_cast<std::time_t>(centis / 100);
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char body[160];
  std::snprintf(body, sizeof body, "GPGGA,%02d%02d%02d.%02lld,%s,%s,1,12,1.0,%.3f,M,0.000,M,,", parts.tm_hour,
                parts.tm_min, parts.tm_sec, static_cast<long long>(centis % 100),
                Angle(position.latitude, 2, 'N', 'S').c_str(), Angle(position.longitude, 3, 'E', 'W').c_str(),
                position.height);
  uint8_t sum = 0;
  for (const char* c = body; *c; ++c) sum ^= static_cast<uint8_t>(*c);
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
  return "$" + std::string(body) + tail;
}

}  // namespace ntripload
