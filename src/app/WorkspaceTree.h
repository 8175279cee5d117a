#pragma once
// The workspace tree: connected bases grouped by correction format under "Multi Base", and the
// mountpoints of the linked server under "QVO[<server>]". A model only; the monitor draws it.
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct ClientEntry;

enum class TreeNodeKind { kMultiBase, kFormatGroup, kBase, kLinkedServer, kMountpoint, kDescription };

struct TreeNode {
  TreeNodeKind kind = TreeNodeKind::kBase;
  std::string text;
  bool expanded = false;
  bool checkBoxes = false;  // this node and everything below it are drawn with check boxes
  std::vector<TreeNode> children;
};

// One mountpoint announced by the linked server.
struct LinkedMount {
  int formatIndex = 1;  // 0 RTCM 2.3, 1 RTCM 3.2, 2 CMR
  std::string name;
  std::string description;
};

struct LinkedServer {
  std::string name;
  std::vector<LinkedMount> mounts;
};

// Label of a linked mountpoint's format index; empty for indexes without a name.
std::string_view LinkFormatName(int formatIndex);
// Group text ("[RTCA]" ...) of a base's dataFormat 1 to 7; empty for any other value.
std::string_view FormatGroupName(int dataFormat);

class WorkspaceTree {
 public:
  // Tree codes beyond those of the connection core (4, 9, 10 in core/Messages.h).
  static constexpr int kCodeFormatKnown = 6;
  static constexpr int kCodeLinkCleared = 14;
  static constexpr int kCodeLinkMounts = 15;

  using Listener = std::function<void()>;

  // Applies one tree code of message 1525; true when the tree changed. entry is read by codes 4
  // and 6 (ignored when null); withFormatGroups (fixedBase or movingBase on) is read by code 15.
  bool Apply(int code, const ClientEntry* entry, bool withFormatGroups = false);

  // The linked server that code 15 shows.
  void SetLinkedServer(LinkedServer server) { linked_ = std::move(server); }

  const std::vector<TreeNode>& roots() const { return roots_; }
  // Called after each Apply that changed the tree.
  void SetListener(Listener listener) { listener_ = std::move(listener); }

 private:
  void InsertMultiBase(bool checkBoxes);
  void InsertLinkedServer();
  // The group node of a base, or null when there is no "Multi Base" or the format has no group.
  TreeNode* GroupOf(const ClientEntry& entry);
  bool RemoveRoots(TreeNodeKind kind);

  std::vector<TreeNode> roots_;
  LinkedServer linked_;
  Listener listener_;
};
