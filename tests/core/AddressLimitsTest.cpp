#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <boost/asio/ip/address.hpp>

#include "core/AddressLimits.h"

namespace {

using Verdict = AddressLimits::Verdict;
using std::chrono::seconds;

constexpr uint32_t kA = 0x7F000001;  // 127.0.0.1
constexpr uint32_t kB = 0x0A000002;  // 10.0.0.2

// One step of a case: at second `at`, a connect ('+') or a close ('-') from an address, and for a
// connect the verdict and whether it is to be reported.
struct Step {
  int at;
  char action;
  uint32_t address;
  Verdict verdict = Verdict::kAdmitted;
  bool report = false;
};

struct Case {
  std::string name;
  int maxOpen;
  int maxPerMinute;
  std::vector<Step> steps;
  size_t trackedAtEnd;
};

class AddressLimitsCases : public ::testing::TestWithParam<Case> {};

TEST_P(AddressLimitsCases, Steps) {
  const Case& c = GetParam();
  AddressLimits limits;
  limits.SetLimits(c.maxOpen, c.maxPerMinute);
  const AddressLimits::TimePoint start{};
  for (size_t i = 0; i < c.steps.size(); ++i) {
    const Step& s = c.steps[i];
    const auto now = start + seconds(s.at);
    if (s.action == '-') {
      limits.Release(s.address, now);
      continue;
    }
    const AddressLimits::Decision d = limits.Admit(s.address, now);
    EXPECT_EQ(d.verdict, s.verdict) << "step " << i;
    EXPECT_EQ(d.report, s.report) << "step " << i;
  }
  EXPECT_EQ(limits.Tracked(), c.trackedAtEnd);
}

constexpr auto kOk = Verdict::kAdmitted;
constexpr auto kOpen = Verdict::kTooManyOpen;
constexpr auto kRate = Verdict::kTooManyConnects;

INSTANTIATE_TEST_SUITE_P(
    Table, AddressLimitsCases,
    ::testing::Values(
        Case{"OffCountsNothing", 0, 0, {{0, '+', kA}, {0, '+', kA}, {0, '+', kA}, {1, '-', kA}}, 0},
        Case{
            "OpenLimitReachedPerAddress",
            2,
            0,
            {{0, '+', kA}, {0, '+', kA}, {0, '+', kA, kOpen, true}, {0, '+', kB}, {0, '+', kA, kOpen, false}},
            2},
        Case{
            "CloseReleasesAndEmptyAddressIsForgotten",
            1,
            0,
            {{0, '+', kA}, {0, '+', kA, kOpen, true}, {1, '-', kA}, {1, '+', kA}, {2, '-', kA}, {3, '-', kA}},
            1},  // the report's quiet minute is still remembered
        Case{"ReportOncePerAddressPerMinute",
             1,
             0,
             {{0, '+', kA},
              {0, '+', kA, kOpen, true},
              {30, '+', kA, kOpen, false},
              {30, '+', kB},
              {31, '+', kB, kOpen, true},
              {59, '+', kA, kOpen, false},
              {60, '+', kA, kOpen, true},
              {200, '-', kA},
              {200, '-', kB}},
             0},
        Case{"ConnectWindowMovesOnWithTheClock",
             0,
             2,
             {{0, '+', kA},
              {1, '-', kA},
              {10, '+', kA},
              {11, '-', kA},
              {20, '+', kA, kRate, true},
              {59, '+', kA, kRate, false},
              {60, '+', kA},
              {61, '+', kA},
              {62, '+', kA, kRate, false},
              {119, '+', kA, kRate, true},
              {120, '+', kA}},
             1},
        Case{
            "RefusedConnectsAreNotCounted",
            1,
            2,
            {{0, '+', kA}, {1, '+', kA, kOpen, true}, {2, '-', kA}, {3, '+', kA}, {4, '+', kA, kOpen, false}},
            1},
        Case{"ForgottenAfterTheWindowOnceClosed",
             0,
             5,
             {{0, '+', kA},
              {0, '+', kB},
              {1, '-', kA},
              {1, '-', kB},
              {70, '+', kB},
              {71, '-', kB},
              {140, '+', kB}},
             1},
        Case{"StrayCloseIsIgnored",
             1,
             0,
             {{0, '-', kA}, {0, '+', kA}, {1, '-', kA}, {1, '-', kA}, {1, '+', kA}},
             1}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(AddressLimitsTest, ManyAddressesAreForgottenOnceQuiet) {
  AddressLimits limits;
  limits.SetLimits(4, 100);
  const AddressLimits::TimePoint start{};
  for (uint32_t a = 1; a <= 10000; ++a) {
    ASSERT_EQ(limits.Admit(a, start).verdict, Verdict::kAdmitted);
    limits.Release(a, start + seconds(1));
  }
  EXPECT_EQ(limits.Tracked(), 10000u);  // each window still runs
  limits.Admit(kA, start + seconds(61));
  EXPECT_EQ(limits.Tracked(), 1u);
}

TEST(AddressLimitsTest, RefusalTextsNameAddressLimitAndRule) {
  EXPECT_EQ(AddressRefusalText("127.0.0.1", {Verdict::kTooManyOpen, true, 3}),
            "127.0.0.1 refused: more than 3 connections at once (MaxPerIP)");
  EXPECT_EQ(AddressRefusalText("10.1.2.3", {Verdict::kTooManyConnects, true, 60}),
            "10.1.2.3 refused: more than 60 connections a minute (MaxConnectsPerIP)");
}

TEST(AddressLimitKeyTest, Ipv6CountsByItsSlash64AndMappedIpv4AsIpv4) {
  using boost::asio::ip::make_address;
  EXPECT_EQ(LimitKey(make_address("127.0.0.1")), AddressKey(kA));
  EXPECT_EQ(LimitKey(make_address("::ffff:127.0.0.1")), AddressKey(kA));
  EXPECT_EQ(LimitKey(make_address("2001:db8:1:2::1")), LimitKey(make_address("2001:db8:1:2:ffff::9")));
  EXPECT_NE(LimitKey(make_address("2001:db8:1:2::1")), LimitKey(make_address("2001:db8:1:3::1")));
  // An IPv6 prefix with the bits of an IPv4 address is still another key.
  EXPECT_NE(LimitKey(make_address("0:0:7f00:1::")), AddressKey(kA));
  EXPECT_NE(LimitKey(make_address("::1")), AddressKey(0u));
}

}  // namespace
