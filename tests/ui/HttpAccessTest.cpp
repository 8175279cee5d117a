#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "core/ntrip/Base64.h"
#include "ui/HttpAccess.h"

namespace fs = std::filesystem;

namespace {

TEST(HttpAccessTest, CredentialsOriginAndBind) {
  const std::string good = "Basic " + EncodeBase64("admin:s3cret");
  EXPECT_TRUE(BasicAuthorized(good, "s3cret"));
  EXPECT_TRUE(BasicAuthorized("basic " + EncodeBase64("admin:s3cret"), "s3cret"));
  for (const std::string& refused :
       {std::string(), "Basic " + EncodeBase64("root:s3cret"), "Basic " + EncodeBase64("admin:s3cre"),
        "Basic " + EncodeBase64("admin:s3cret2"), "Bearer " + EncodeBase64("admin:s3cret"),
        std::string("Basic ")}) {
    EXPECT_FALSE(BasicAuthorized(refused, "s3cret")) << refused;
  }

  EXPECT_TRUE(SameOrigin("", "127.0.0.1:6080"));
  EXPECT_TRUE(SameOrigin("http://127.0.0.1:6080", "127.0.0.1:6080"));
  EXPECT_FALSE(SameOrigin("http://evil.example", "127.0.0.1:6080"));
  EXPECT_FALSE(SameOrigin("http://127.0.0.1:6081", "127.0.0.1:6080"));
  EXPECT_FALSE(SameOrigin("https://127.0.0.1:6080", "127.0.0.1:6080"));
  EXPECT_FALSE(SameOrigin("null", ""));

  for (const char* host : {"127.0.0.1:6080", "127.0.0.1", "localhost:6080", "LocalHost", "[::1]:6080"}) {
    EXPECT_TRUE(LoopbackHost(host)) << host;
  }
  for (const char* host : {"evil.example:6080", "192.168.1.10:6080", "", "[::1", "localhost.evil.example"}) {
    EXPECT_FALSE(LoopbackHost(host)) << host;
  }

  EXPECT_TRUE(IsLoopbackBind("127.0.0.1"));
  EXPECT_TRUE(IsLoopbackBind("127.0.0.2"));
  EXPECT_TRUE(IsLoopbackBind("::1"));
  EXPECT_FALSE(IsLoopbackBind("0.0.0.0"));
  EXPECT_FALSE(IsLoopbackBind("192.168.1.10"));
  EXPECT_FALSE(IsLoopbackBind("localhost"));
}

TEST(HttpAccessTest, StaticFilesStayInsideThePageFolder) {
  char pattern[] = "/tmp/kavro-web-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path dir = pattern;
  fs::create_directories(dir / "web" / "img");
  for (const char* name : {"web/index.html", "web/monitor.js", "web/img/a.png", "secret.txt"}) {
    std::ofstream(dir / name) << "x";
  }
  fs::create_symlink(dir / "secret.txt", dir / "web" / "leak.txt");
  const std::string root = (dir / "web").string();

  EXPECT_EQ(StaticFilePath(root, "/"), (dir / "web" / "index.html").string());
  EXPECT_EQ(StaticFilePath(root, "/monitor.js?v=2"), (dir / "web" / "monitor.js").string());
  EXPECT_EQ(StaticFilePath(root, "/img/a.png"), (dir / "web" / "img" / "a.png").string());
  for (const char* refused : {"/../secret.txt", "/img/../../secret.txt", "/%2e%2e/secret.txt", "/leak.txt",
                              "/img", "/missing.js", "index.html", "", "/img\\a.png"}) {
    EXPECT_EQ(StaticFilePath(root, refused), "") << refused;
  }

  EXPECT_EQ(ContentTypeOf("/x/index.html"), "text/html; charset=utf-8");
  EXPECT_EQ(ContentTypeOf("monitor.js"), "text/javascript; charset=utf-8");
  EXPECT_EQ(ContentTypeOf("monitor.css"), "text/css; charset=utf-8");
  EXPECT_EQ(ContentTypeOf("icon.png"), "image/png");
  EXPECT_EQ(ContentTypeOf("icon.svg"), "image/svg+xml");

  EXPECT_EQ(FindWebRoot("/elsewhere", "/nowhere", "/nowhere"), "/elsewhere");
  fs::create_directories(dir / "build");
  EXPECT_EQ(FindWebRoot("", (dir / "build").string(), "/nowhere/"), fs::canonical(dir / "web").string());
  EXPECT_EQ(FindWebRoot("", "/nowhere", "/nowhere/"), "");
  fs::create_directories(dir / "prefix" / "bin");
  fs::create_directories(dir / "prefix" / "share" / "kavro" / "web");
  std::ofstream(dir / "prefix" / "share" / "kavro" / "web" / "index.html") << "<html>";
  EXPECT_EQ(FindWebRoot("", (dir / "prefix" / "bin").string(), "/nowhere/"),
            fs::canonical(dir / "prefix" / "share" / "kavro" / "web").string());
  fs::remove_all(dir);
}

}  // namespace
