#include "app/OutputLog.h"

#include <sys/stat.h>

#include <utility>

#include "core/FileAppend.h"
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

bool SameSecond(const LocalTime& a, const LocalTime& b) {
  return a.second == b.second && a.minute == b.minute && a.hour == b.hour && a.day == b.day && a.month == b.month &&
         a.year == b.year;
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

OutputLog::~OutputLog() { CloseDaily(); }

void OutputLog::CloseDaily() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  filePath_.clear();
}

std::FILE* OutputLog::OpenDaily(const std::string& path, const LocalTime& now) {
  if (file_ != nullptr && path == filePath_) {
    if (SameSecond(now, checkedAt_)) return file_;
    checkedAt_ = now;
    struct stat atPath {};
    struct stat open {};
    if (::stat(path.c_str(), &atPath) == 0 && ::fstat(fileno(file_), &open) == 0 && atPath.st_ino == open.st_ino &&
        atPath.st_dev == open.st_dev) {
      return file_;
    }
  }
  CloseDaily();
  file_ = std::fopen(path.c_str(), "a");
  if (file_ != nullptr) filePath_ = path;
  checkedAt_ = now;
  return file_;
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

  const std::string path = logDirectory_ + LogFileName(now);
  bool written = false;
  if (std::FILE* file = OpenDaily(path, now)) {
    // Written past the stream's buffer, so that nothing of a failed line is left to be flushed later.
    written = AppendWhole(fileno(file), line.data(), line.size());
    if (!written) CloseDaily();
  }
  if (written) {
    failures_.Succeeded(path, now);
  } else if (failures_.First(path, now)) {
    // The file cannot take its own failure: it goes to the console and, in red, to the list, once per
    // file and day.
    const std::string text = "Log write failed " + path;
    const std::string note = FileLine(timeText, text);
    std::FILE* console = copyTo_ != nullptr ? copyTo_ : stderr;
    std::fwrite(note.data(), 1, note.size(), console);
    std::fflush(console);
    rows_.push_back(LogRow{timeText, "", text, kLogRed, ++lastSequence_});
    change.added = &rows_.back();
    if (listener_) listener_(change);
    change = Change{};
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
