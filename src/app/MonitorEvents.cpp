#include "app/MonitorEvents.h"

#include <cstdio>

void MonitorEvents::OnLogLine(const LogRecord& record) {
  if (record.level == 1) return;  // file-only lines have no file yet
  std::fwrite(record.text.data(), 1, record.text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}
