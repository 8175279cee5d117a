// The command form of the account administration against the real binary: beside a caster running on
// the same directory (which sees the accounts at once: logins pass, and fail after the delete), on a
// new server database, and with the server unreachable.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "core/ntrip/Base64.h"
#include "db/DbTestSupport.h"
#include "support/CasterProcess.h"
#include "support/NtripClient.h"

namespace {

using namespace testsupport;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs KavroServer --dir DIR user WORDS... and collects its output and exit status.
Outcome RunUser(const std::filesystem::path& dir, const std::vector<std::string>& words) {
  std::vector<std::string> args{KAVRO_BINARY, "--dir", dir.string(), "user"};
  args.insert(args.end(), words.begin(), words.end());
  const std::filesystem::path outFile = dir / "command.out", errFile = dir / "command.err";
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(KAVRO_BINARY, argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  auto read = [](const std::filesystem::path& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read(outFile), read(errFile)};
}

// The first line of the caster's answer to a rover's login.
std::string Login(int port, const std::string& credentials) {
  const int fd = ConnectLoopback(port);
  SendAll(fd, GetRequest("/RTK1", EncodeBase64(credentials)));
  std::string reply;
  ReadUntil(fd, reply, [](const std::string& r) { return r.find("\r\n") != std::string::npos; });
  close(fd);
  return reply.substr(0, reply.find("\r\n"));
}

TEST(AccountCommandBinaryTest, WorksBesideARunningCaster) {
  CasterProcess caster("SET=10000000000001000000\n");  // password protection on
  ASSERT_TRUE(caster.Start());
  const auto& dir = caster.directory();

  struct Step {
    std::vector<std::string> words;
    int status;
    const char* err;  // the start of standard error
  };
  const Step setup[] = {
      {{"add", "RTK1", "pw"}, 0, ""},
      {{"add", "rover1", "secret", "--allowed-seconds", "3600", "--valid-until", "20991231"}, 0, ""},
      {{"add", "rover1", "other"}, 1, "KavroServer: account rover1 exists already"},
      {{"add", "bad", "pass:word"}, 1, "KavroServer: password holds \":\""},
      {{"lst"}, 2, "KavroServer: unknown user command 'lst'"},
  };
  for (const Step& step : setup) {
    const Outcome outcome = RunUser(dir, step.words);
    EXPECT_EQ(outcome.status, step.status) << step.words[0] << ": " << outcome.err;
    EXPECT_EQ(outcome.err.rfind(step.err, 0), 0u) << outcome.err;
  }
  const Outcome listed = RunUser(dir, {"list"});
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(listed.out,
            "RTK1\tpw\t0\t0\t0\t0\t\t\t\t\t0\t\t\n"
            "rover1\tsecret\t3600\t0\t20991231\t0\t\t\t\t\t0\t\t\n");

  // The running caster checks logins against what the command wrote.
  const int source = ConnectLoopback(caster.port());
  SendAll(source, "SOURCE pw /RTK1\r\nSource-Agent: NTRIP KavroTest\r\n\r\n");
  std::string sourceReply;
  ReadUntil(source, sourceReply, [](const std::string& r) { return r.size() >= 12; });
  EXPECT_EQ(sourceReply.rfind("ICY 200 OK", 0), 0u) << sourceReply;
  EXPECT_EQ(Login(caster.port(), "rover1:secret"), "ICY 200 OK");
  EXPECT_NE(Login(caster.port(), "rover1:wrong"), "ICY 200 OK");

  const Step changes[] = {
      {{"reset-time", "rover1"}, 0, ""},
      {{"delete", "rover1"}, 0, ""},
      {{"delete", "rover1"}, 1, "KavroServer: no account rover1"},
      {{"reset-time", "nobody"}, 1, "KavroServer: no account nobody"},
  };
  for (const Step& step : changes) {
    const Outcome outcome = RunUser(dir, step.words);
    EXPECT_EQ(outcome.status, step.status) << step.words[0] << ": " << outcome.err;
    EXPECT_EQ(outcome.err.rfind(step.err, 0), 0u) << outcome.err;
  }
  EXPECT_NE(Login(caster.port(), "rover1:secret"), "ICY 200 OK");
  EXPECT_EQ(RunUser(dir, {"list", "rover"}).out, "");
  close(source);
  EXPECT_EQ(caster.Stop(), 0);
}

TEST(AccountCommandBinaryTest, NewServerDatabaseGetsItsTables) {
  SKIP_WITHOUT_POSTGRES();
  dbtest::ScratchDatabase scratch;
  ASSERT_TRUE(scratch.created());
  dbtest::TempDir dir;
  std::filesystem::create_directories(dir.File("INI"));
  std::ofstream(dir.File("INI/KavroServer.INI"))
      << "[SQL]\nUseSQL=1\nIP=" << scratch.server().host << "\nPORT=" << scratch.server().port
      << "\nUser=" << scratch.server().user << "\nPassword=\nDBname=" << scratch.name() << "\n";
  EXPECT_EQ(RunUser(dir.Directory(), {"add", "r'1", "pw", "--serial", "SN9"}).status, 0);
  EXPECT_EQ(RunUser(dir.Directory(), {"list"}).out, "r'1\tpw\t0\t0\t0\t0\t\t\t\t\t1\tSN9\t\n");
  EXPECT_EQ(RunUser(dir.Directory(), {"delete", "r'1"}).status, 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("Kavro202.db"))) << "the local file is not touched";
}

TEST(AccountCommandBinaryTest, UnreachableServerFailsClearly) {
  dbtest::TempDir dir;
  std::filesystem::create_directories(dir.File("INI"));
  std::ofstream(dir.File("INI/KavroServer.INI"))
      << "[SQL]\nUseSQL=1\nIP=127.0.0.1\nPORT=" << FreeLoopbackPort() << "\n";
  const Outcome outcome = RunUser(dir.Directory(), {"list"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "KavroServer: database unreachable (SQL server)\n");
}

TEST(AccountCommandBinaryTest, ExportsAndImportsCsv) {
  dbtest::TempDir dir;
  ASSERT_EQ(RunUser(dir.Directory(), {"add", "a,b", "pw", "--area", "北区"}).status, 0);
  ASSERT_EQ(RunUser(dir.Directory(), {"add", "测试", "pw2"}).status, 0);
  const std::string file = dir.File("accounts.csv");
  ASSERT_EQ(RunUser(dir.Directory(), {"export", "accounts", file}).status, 0);
  const std::string header =
      "UserUser,USERPASSWORD,PUSERTIME,USERTIME,PUSEDATA,USERLX,Measure_unit,Contact_person,Telephone,"
      "ScopeName,USERTIME_LAST,SN_YES,SN,EMAIL\r\n";
  const std::string exported = header + "\"a,b\",pw,0,0,0,0,,,,北区,0,0,,\r\n测试,pw2,0,0,0,0,,,,,0,0,,\r\n";
  std::ifstream in(file);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), exported);
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "the file holds passwords";

  const std::string edited = dir.File("edited.csv"), bad = dir.File("bad.csv");
  std::ofstream(edited) << "UserUser,USERPASSWORD\n\"a,b\",new\n测试,pw2\nnew,pw3\n";
  std::ofstream(bad) << "UserUser,USERPASSWORD\nok,pw\nbad,pass:word\n";
  const Outcome dry = RunUser(dir.Directory(), {"import", "accounts", edited, "--dry-run"});
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_EQ(dry.out, "added 1:\n  new\nupdated 1:\n  a,b\nunchanged 1\ndry run: nothing changed\n");
  const Outcome refused = RunUser(dir.Directory(), {"import", "accounts", bad});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "KavroServer: line 3: password holds \":\"\nKavroServer: nothing imported\n");
  EXPECT_EQ(RunUser(dir.Directory(), {"export", "accounts", "-"}).out, exported);

  const Outcome done = RunUser(dir.Directory(), {"import", "accounts", edited});
  EXPECT_EQ(done.status, 0) << done.err;
  EXPECT_EQ(done.out, "added 1:\n  new\nupdated 1:\n  a,b\nunchanged 1\n");
  EXPECT_EQ(RunUser(dir.Directory(), {"list"}).out,
            "a,b\tnew\t0\t0\t0\t0\t\t\t\t北区\t0\t\t\nnew\tpw3\t0\t0\t0\t0\t\t\t\t\t0\t\t\n"
            "测试\tpw2\t0\t0\t0\t0\t\t\t\t\t0\t\t\n");
  EXPECT_EQ(RunUser(dir.Directory(), {"export", "areas", "-"}).out,
            "Name,B1,B2,L1,L2,DX,DY,DZ,RX,RY,RZ,SF,UseSeven,UseSevenEncry,UseUndulation\r\n");
  EXPECT_EQ(RunUser(dir.Directory(), {"import", "areas"}).status, 2);
}

}  // namespace
