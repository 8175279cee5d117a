// The command form's words: what each asks for and what it refuses; the list line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/AccountCommand.h"

namespace {

using Kind = AccountRequest::Kind;

TEST(AccountCommandTest, WordsMakeRequests) {
  struct Case {
    std::vector<std::string> words;
    const char* error;  // empty when the words are a request
    Kind kind;
  };
  const Case cases[] = {
      {{"add", "n", "p"}, "", Kind::kAdd},
      {{"add", "n", "p", "--allowed-seconds", "60", "--valid-until", "20301231", "--area", "A", "--serial",
        "S"},
       "",
       Kind::kAdd},
      {{"add", "n"}, "add needs NAME and PASSWORD", Kind::kAdd},
      {{"add", "n", "p", "--allowed-seconds"}, "--allowed-seconds needs a value", Kind::kAdd},
      {{"add", "n", "p", "--allowed-seconds", "6x"},
       "--allowed-seconds needs a whole number, not '6x'",
       Kind::kAdd},
      {{"add", "n", "p", "--colour", "red"}, "unknown option '--colour'", Kind::kAdd},
      {{"list"}, "", Kind::kList},
      {{"list", "text"}, "", Kind::kList},
      {{"list", "a", "b"}, "list takes at most one search text", Kind::kList},
      {{"delete", "n"}, "", Kind::kDelete},
      {{"delete"}, "delete needs exactly one NAME", Kind::kDelete},
      {{"reset-time", "n"}, "", Kind::kResetTime},
      {{"rename", "n"}, "unknown user command 'rename'", Kind::kList},
      {{}, "user needs a command: add, list, delete or reset-time", Kind::kList},
  };
  for (const Case& c : cases) {
    AccountRequest request;
    std::string error;
    const bool ok = ParseAccountCommand(c.words, request, error);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(ok, error.empty());
    if (ok) {
      EXPECT_EQ(request.kind, c.kind);
    }
  }
  AccountRequest request;
  std::string error;
  ASSERT_TRUE(ParseAccountCommand({"add", "n", "p", "--allowed-seconds", "60", "--valid-until", "20301231",
                                   "--area", "A", "--serial", "S"},
                                  request, error));
  EXPECT_EQ(request.account, (Account{.name = "n",
                                      .password = "p",
                                      .allowedSeconds = 60,
                                      .validUntil = 20301231,
                                      .area = "A",
                                      .serialBinding = 1,
                                      .serial = "S"}));
}

TEST(AccountCommandTest, ListLineHoldsEveryColumnNameFirst) {
  const Account a{"n", "p", 1, 2, 20301231, 3, "o\tx", "c\nd", "t", "a", 1, "s", "e"};
  EXPECT_EQ(AccountLine(a), "n\tp\t1\t2\t20301231\t3\to x\tc d\tt\ta\t1\ts\te");
}

}  // namespace
