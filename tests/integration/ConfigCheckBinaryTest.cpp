// "KavroServer --check-config --dir DIR" against the real binary: its exit status and output for a clean
// directory, one with findings and a missing one, and that it starts nothing and creates nothing.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out;
};

Outcome CheckConfig(const fs::path& dir) {
  const std::string command =
      std::string(KAVRO_BINARY) + " --check-config --dir '" + dir.string() + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  Outcome outcome;
  char block[4096];
  for (size_t n; (n = fread(block, 1, sizeof block, pipe)) > 0;) outcome.out.append(block, n);
  const int status = pclose(pipe);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

TEST(ConfigCheckBinaryTest, ExitStatusTellsCleanFromFaulty) {
  const fs::path dir = fs::temp_directory_path() / ("kavro-check-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "INI");
  const std::string settings = (dir / "INI" / "KavroServer.INI").string();
  const std::string relay = (dir / "USER.NAME").string();

  struct Step {
    const char* settings;  // nullptr: no file
    const char* relay;
    int status;
    std::string out;
  };
  const Step steps[] = {
      {nullptr, nullptr, 0, ""},
      {"[SYSTEMSERVER]\nPORT=2101\n", "[Settings]\nPORT=0\n", 0, ""},
      {"[SYSTEMSERVER]\nPORT=70000\n", "[Settings]\nPROT=1\n", 1,
       settings + ":2: PORT: 70000 is not a port (0..65535); the default is used\n" + relay +
           ":2: unknown key \"PROT\" in [Settings]\n"},
  };
  for (const Step& step : steps) {
    fs::remove(settings);
    fs::remove(relay);
    if (step.settings != nullptr) std::ofstream(settings) << step.settings;
    if (step.relay != nullptr) std::ofstream(relay) << step.relay;
    const Outcome outcome = CheckConfig(dir);
    EXPECT_EQ(outcome.status, step.status) << outcome.out;
    EXPECT_EQ(outcome.out, step.out);
  }
  EXPECT_FALSE(fs::exists(dir / "LOG"));  // the caster did not start
  EXPECT_EQ(CheckConfig(dir / "missing").status, 2);
  EXPECT_FALSE(fs::exists(dir / "missing"));
  fs::remove_all(dir);
}

}  // namespace
