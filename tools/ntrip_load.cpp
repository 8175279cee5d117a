// ntrip_load: the NTRIP load tool (sources and rovers against a caster on loopback).
#include <sys/resource.h>

#include <boost/asio/io_context.hpp>
#include <cstdio>

#include "tools/LoadEngine.h"

int main(int argc, char** argv) {
  ntripload::Options options;
  std::string error;
  switch (ntripload::ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    case ntripload::ParseResult::Help:
      std::fputs(ntripload::HelpText().c_str(), stdout);
      return 0;
    case ntripload::ParseResult::Error:
      std::fprintf(stderr, "ntrip_load: %s (see --help)\n", error.c_str());
      return 2;
    case ntripload::ParseResult::Run:
      break;
  }
  // Every connection is a file descriptor: raise the soft limit as far as allowed.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  boost::asio::io_context io;
  const ntripload::Report report = ntripload::RunLoad(io, options);
  const std::string summary = options.json ? FormatJson(report, options) : FormatText(report, options);
  std::fputs(summary.c_str(), stdout);
  return Passed(report, options) ? 0 : 1;
}
