#include <gtest/gtest.h>

#include "app/WorkspaceTree.h"
#include "core/ClientEntry.h"
#include "core/Messages.h"

namespace {

constexpr int kFormatKnown = WorkspaceTree::kCodeFormatKnown;

// One line per node, indented by depth; "+" marks an expanded node, "[x]" check boxes.
void Dump(const TreeNode& node, size_t depth, std::string& out) {
  out +=
      std::string(depth * 2, ' ') + node.text + (node.expanded ? " +" : "") + (node.checkBoxes ? " [x]" : "");
  out += '\n';
  for (const TreeNode& child : node.children) Dump(child, depth + 1, out);
}
std::string Dump(const WorkspaceTree& tree) {
  std::string out;
  for (const TreeNode& root : tree.roots()) Dump(root, 0, out);
  return out;
}

bool ApplyBase(WorkspaceTree& tree, int code, const std::string& name, int format) {
  ClientEntry entry;
  entry.userName = name;
  entry.dataFormat = format;
  return tree.Apply(code, &entry);
}

const std::string kGroups = "  [RTCA]\n  [RTCM23]\n  [RTCM30]\n  [RTCM32-MSM]\n  [sCMRx]\n  [CMR]\n  [RTD]\n";

TEST(WorkspaceTreeTest, BasesGoUnderTheGroupOfTheirFormat) {
  WorkspaceTree tree;
  EXPECT_FALSE(ApplyBase(tree, kFormatKnown, "early", 1));  // no "Multi Base" yet
  EXPECT_TRUE(tree.Apply(kTreeServiceStarted, nullptr));
  EXPECT_EQ(Dump(tree), "Multi Base +\n" + kGroups);

  const char* names[] = {"", "rtca", "r23", "r30", "cmr", "rtd", "msm", "scmrx"};
  for (int format = 7; format >= 1; --format)
    EXPECT_TRUE(ApplyBase(tree, kFormatKnown, names[format], format));
  EXPECT_TRUE(ApplyBase(tree, kFormatKnown, "r30b", 3));
  EXPECT_FALSE(ApplyBase(tree, kFormatKnown, "r30", 3));  // already there
  for (int format : {0, 8, -1}) EXPECT_FALSE(ApplyBase(tree, kFormatKnown, "odd", format));
  EXPECT_FALSE(ApplyBase(tree, kFormatKnown, "", 3));
  EXPECT_FALSE(tree.Apply(kFormatKnown, nullptr));
  EXPECT_EQ(Dump(tree),
            "Multi Base +\n  [RTCA]\n    rtca\n  [RTCM23]\n    r23\n  [RTCM30]\n    r30\n    r30b\n"
            "  [RTCM32-MSM]\n    msm\n  [sCMRx]\n    scmrx\n  [CMR]\n    cmr\n  [RTD]\n    rtd\n");

  // Closing removes the name from its own group only.
  ApplyBase(tree, kFormatKnown, "r30", 2);
  EXPECT_TRUE(ApplyBase(tree, kTreeEntryClosing, "r30", 3));
  EXPECT_FALSE(ApplyBase(tree, kTreeEntryClosing, "r30", 3));
  EXPECT_EQ(tree.roots()[0].children[1].children.size(), 2u);

  tree.Apply(kTreeServiceStarted, nullptr);  // rebuilt empty, not duplicated
  EXPECT_EQ(Dump(tree), "Multi Base +\n" + kGroups);
  EXPECT_TRUE(tree.Apply(kTreeServiceStopped, nullptr));
  EXPECT_TRUE(tree.roots().empty());
}

TEST(WorkspaceTreeTest, LinkedMountpointsReplaceTheTree) {
  WorkspaceTree tree;
  int notified = 0;
  tree.SetListener([&] { ++notified; });
  tree.SetLinkedServer(
      {"NET1", {{0, "M23", "1(1)"}, {1, "M32", ""}, {2, "MC", "c"}, {10, "MX", "x"}, {-1, "MN", "n"}}});
  tree.Apply(kTreeServiceStarted, nullptr);
  ApplyBase(tree, kFormatKnown, "B1", 3);

  const std::string linked =
      "QVO[NET1] +\n  [RTCM 2.3] M23\n    1(1)\n  [RTCM 3.2] M32\n    \n  [CMR     ] MC\n    c\n"
      "  [] MX\n    x\n  [] MN\n    n\n";
  EXPECT_TRUE(tree.Apply(WorkspaceTree::kCodeLinkMounts, nullptr, false));
  EXPECT_EQ(Dump(tree), linked);
  EXPECT_TRUE(tree.Apply(WorkspaceTree::kCodeLinkMounts, nullptr, true));
  EXPECT_EQ(Dump(tree), "Multi Base + [x]\n" + kGroups + linked);

  EXPECT_TRUE(tree.Apply(WorkspaceTree::kCodeLinkCleared, nullptr));
  EXPECT_EQ(Dump(tree), "Multi Base + [x]\n" + kGroups);
  EXPECT_EQ(notified, 5);

  // Codes without a meaning for the tree change nothing.
  for (int code : {0, 1, 5, 7, 11, 13, 14, 16, -1}) EXPECT_FALSE(ApplyBase(tree, code, "B1", 1)) << code;
  EXPECT_EQ(notified, 5);
  EXPECT_EQ(Dump(tree), "Multi Base + [x]\n" + kGroups);
}

}  // namespace
