// Appends cut short by a full disk (a lowered file size limit stands in for it) are taken back, so that
// the caster's files hold only whole lines and chunks, and writing resumes cleanly when space returns.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "app/OutputLog.h"
#include "core/FileAppend.h"
#include "core/Messages.h"
#include "core/RecordFile.h"
#include "support/FileSizeLimit.h"

namespace fs = std::filesystem;

namespace {

std::string Read(const fs::path& path) {
  std::stringstream out;
  out << std::ifstream(path, std::ios::binary).rdbuf();
  return out.str();
}

// One writer of the caster's own files: appends text to the file at path; true when written.
struct Writer {
  const char* name;
  std::function<bool(const fs::path& dir, const std::string& text)> write;
  const char* file;                                  // the file it writes under dir
  std::string (*expected)(const std::string& text);  // what the file holds after writing text
};

ManualClock logClock{LocalTime{2015, 2, 0, 2, 9, 5, 7}};

const Writer kWriters[] = {
    {"AppendWhole",
     [](const fs::path& dir, const std::string& text) {
       const int fd = ::open((dir / "file").c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
       const bool ok = AppendWhole(fd, text.data(), text.size());
       ::close(fd);
       return ok;
     },
     "file", [](const std::string& text) { return text; }},
    {"RecordFile",
     [](const fs::path& dir, const std::string& text) {
       return AppendRecord(dir.string() + "/", "ROVER12345", reinterpret_cast<const uint8_t*>(text.data()),
                           static_cast<uint32_t>(text.size())) == RecordWrite::kWritten;
     },
     "ROVER12345", [](const std::string& text) { return text; }},
    {"OutputLog",
     [](const fs::path& dir, const std::string& text) {
       OutputLog log(logClock, dir.string(), nullptr);
       const size_t before =
           fs::exists(dir / "KavroServer20150202.txt") ? fs::file_size(dir / "KavroServer20150202.txt") : 0;
       log.Append({"", text, kLogNormal});
       return fs::file_size(dir / "KavroServer20150202.txt") > before;
     },
     "KavroServer20150202.txt",
     [](const std::string& text) { return "2015/02/02  9: 5: 7  " + text + "\n"; }},
};

class FileAppendTest : public ::testing::TestWithParam<Writer> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kavro-append-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
};

TEST_P(FileAppendTest, WriteCutShortIsTakenBackAndWritingResumes) {
  const Writer& w = GetParam();
  const std::string first = "first line of forty bytes, more or less";
  ASSERT_TRUE(w.write(dir, first));
  const std::string whole = w.expected(first);
  ASSERT_EQ(Read(dir / w.file), whole);
  // Room for none, a few or all but one of the next bytes.
  for (size_t room : {size_t{0}, size_t{5}, w.expected("second").size() - 1}) {
    SCOPED_TRACE(room);
    {
      FileSizeLimit limit(whole.size() + room);
      EXPECT_FALSE(w.write(dir, "second"));
    }
    EXPECT_EQ(Read(dir / w.file), whole);
  }
  ASSERT_TRUE(w.write(dir, "third"));
  EXPECT_EQ(Read(dir / w.file), whole + w.expected("third"));
}

INSTANTIATE_TEST_SUITE_P(Writers, FileAppendTest, ::testing::ValuesIn(kWriters),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
