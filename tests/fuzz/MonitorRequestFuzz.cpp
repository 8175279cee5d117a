// A monitor HTTP request as it arrives in pieces: parsed as the monitor's sessions parse it, then
// put through the access rules, the page file look-up and the query reader.
// gcc with the sanitizers takes a field of Beast's parser for uninitialised when it is put() to directly.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <boost/beast/http.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include "fuzz/FuzzInput.h"
#include "ui/HttpAccess.h"
#include "ui/QueryString.h"

namespace http = boost::beast::http;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A page folder, and a file beside it that no request may reach.
  static const std::string webRoot = [] {
    const std::string index = fuzz::ScratchFile("web/index.html", "<html></html>");
    fuzz::ScratchFile("web/app/main.js", "export {}");
    fuzz::ScratchFile("secret.txt", "secret");
    return index.substr(0, index.size() - std::string_view("/index.html").size());
  }();

  fuzz::FuzzInput input(data, size);
  http::request_parser<http::string_body> parser;
  parser.body_limit(64 * 1024);
  parser.header_limit(8 * 1024);
  bool failed = false;
  std::string pending;
  input.FeedPieces(8, [&](const uint8_t* piece, size_t n, uint8_t) {
    if (failed || parser.is_done()) return;
    pending.append(reinterpret_cast<const char*>(piece), n);
    boost::beast::error_code error;
    const size_t used = parser.put(boost::asio::buffer(pending), error);
    if (error == http::error::need_more) error = {};
    if (error) {
      failed = true;
      return;
    }
    pending.erase(0, used);
  });
  if (failed || !parser.is_done()) return 0;

  const http::request<http::string_body>& request = parser.get();
  boost::beast::websocket::is_upgrade(request);
  LoopbackHost(request[http::field::host]);
  BasicAuthorized(request[http::field::authorization], "secret");
  SameOrigin(request[http::field::origin], request[http::field::host]);
  QueryParameter(request.target(), "name");
  QueryParameter(request.target(), "");
  const std::string path = StaticFilePath(webRoot, request.target());
  fuzz::Require(path.empty() || (path.starts_with(webRoot + "/") && path.find("/../") == std::string::npos &&
                                 path.find("secret") == std::string::npos),
                "page file outside the page folder");
  return 0;
}
