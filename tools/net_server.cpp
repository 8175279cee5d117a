// net_server: a stand-in for one upstream network server on a loopback port (see --help).
#include <sys/resource.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <csignal>
#include <cstdio>

#include "tools/NetServer.h"

int main(int argc, char** argv) {
  netserver::Options options;
  std::string error;
  switch (netserver::ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    case netserver::ParseResult::Help:
      std::fputs(netserver::HelpText().c_str(), stdout);
      return 0;
    case netserver::ParseResult::Error:
      std::fprintf(stderr, "net_server: %s (see --help)\n", error.c_str());
      return 2;
    case netserver::ParseResult::Run:
      break;
  }
  std::string stream;
  if (options.payload == netserver::Payload::File) {
    const auto bytes = netserver::ReadStreamFile(options.streamFile, error);
    if (!bytes) {
      std::fprintf(stderr, "net_server: %s\n", error.c_str());
      return 2;
    }
    stream = *bytes;
  }
  // Every connection is a file descriptor: raise the soft limit as far as allowed.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  boost::asio::io_context io;
  boost::asio::signal_set signals(io, SIGTERM, SIGINT);
  const auto log = [](const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
  };
  std::unique_ptr<netserver::NetServer> server;
  try {
    server = std::make_unique<netserver::NetServer>(io, options, std::move(stream), log);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "net_server: cannot listen on %s:%d: %s\n", options.host.c_str(), options.port,
                 e.what());
    return 1;
  }
  signals.async_wait([&](boost::system::error_code ec, int signal) {
    if (!ec) server->Stop(signal == SIGINT ? "SIGINT" : "SIGTERM");
  });
  while (!server->stopped()) io.run_one();
  signals.cancel();
  io.run();  // the cancelled handlers
  return 0;
}
