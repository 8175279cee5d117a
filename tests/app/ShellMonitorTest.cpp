#include <gtest/gtest.h>

#include "app/Settings.h"
#include "app/ShellMonitor.h"
#include "core/Messages.h"

namespace {

// Code 15 reads the flags and the linked server when it arrives.
TEST(ShellMonitorTest, RoutesLinesAndReadsFlagsAtLinkMounts) {
  ManualClock clock{LocalTime{}};
  OutputLog log(clock, "/nonexistent-kavro-dir/LOG/", nullptr);
  WorkspaceTree tree;
  ShellMonitor monitor(log, tree);
  std::string server = "A";
  monitor.SetLinkedServerSource([&] { return LinkedServer{server, {}}; });

  monitor.OnLogLine({"alice", "hello", kLogNormal});
  EXPECT_EQ(log.rows().back().name, "alice");  // after the red row of the unwritable file

  monitor.OnTree(WorkspaceTree::kCodeLinkMounts, nullptr, 0);  // no settings bound: groups off
  ASSERT_EQ(tree.roots().size(), 1u);
  EXPECT_EQ(tree.roots()[0].text, "QVO[A]");

  Settings settings;
  monitor.SetSettings(&settings);
  for (bool fixed : {false, true}) {
    settings.flags.fixedBase = fixed;
    settings.flags.movingBase = !fixed;
    server = fixed ? "F" : "M";
    monitor.OnTree(WorkspaceTree::kCodeLinkMounts, nullptr, 0);
    ASSERT_EQ(tree.roots().size(), 2u);
    EXPECT_EQ(tree.roots()[1].text, "QVO[" + server + "]");
  }
}

}  // namespace
