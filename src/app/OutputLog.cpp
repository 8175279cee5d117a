#include "app/OutputLog.h"

#include <utility>

#include "core/Messages.h"
#include "core/StrFormat.h"

namespace {

// The file and console line of a log text. Control characters (except tab) become "\xNN": a text
// from a client must not start forged lines in the file or send escape sequences to a terminal.
std::string FileLine(const std::string& timeText, const std::string& info) {
  std::string line = timeText;
  line += ' ';
  for (const char c : info) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
      line += StrFormat("\\x%02X", byte);
    } else {
      line += c;
    }
  }
  line += '\n';
  return line;
}

}  // namespace

std::string LogTimeText(const LocalTime& time) {
  return StrFormat("%04d/%02d/%02d %2d:%2d:%2d ", time.year, time.month, time.day, time.hour, time.minute,
                   time.second);
}

std::string LogFileName(const LocalTime& time) {
  return StrFormat("KavroServer%04d%02d%02d.txt", time.year, time.month, time.day);
}

OutputLog::OutputLog(const Clock& clock, std::string logDirectory, std::FILE* copyTo)
    : clock_(clock), logDirectory_(std::move(logDirectory)), copyTo_(copyTo) {
  if (!logDirectory_.empty() && logDirectory_.back() != '/') logDirectory_ += '/';
}

void OutputLog::Append(const LogRecord& record) {
  Change change;
  if (rows_.size() > kMaxRows) {
    rows_.clear();
    change.cleared = true;
  }

  const LocalTime now = clock_.Now();
  std::string timeText = LogTimeText(now);
  const std::string line = FileLine(timeText, record.text);

  // Opened per line: a new date starts a new file, and the file can be moved while we run.
  const std::string path = logDirectory_ + LogFileName(now);
  bool written = false;
  if (std::FILE* file = std::fopen(path.c_str(), "a")) {
    written = std::fwrite(line.data(), 1, line.size(), file) == line.size();
    written = std::fclose(file) == 0 && written;
  }
  if (written) {
    failures_.Succeeded(path);
  } else if (failures_.First(path, now)) {
    // The file cannot take its own failure: it goes to the console, once per file and day.
    const std::string note = FileLine(timeText, "Log write failed " + path);
    std::FILE* console = copyTo_ != nullptr ? copyTo_ : stderr;
    std::fwrite(note.data(), 1, note.size(), console);
    std::fflush(console);
  }
  if (copyTo_ != nullptr) {
    std::fwrite(line.data(), 1, line.size(), copyTo_);
    std::fflush(copyTo_);
  }

  if (record.level != kLogFileOnly) {
    rows_.push_back(LogRow{std::move(timeText), record.name, record.text, record.level, ++lastSequence_});
    change.added = &rows_.back();
  }
  if (listener_ && (change.cleared || change.added != nullptr)) listener_(change);
}
