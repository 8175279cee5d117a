#include "app/WorkspaceTree.h"

#include <algorithm>
#include <array>

#include "core/ClientEntry.h"
#include "core/Messages.h"

namespace {

constexpr const char* kMultiBaseText = "Multi Base";

// Groups in display order, and the display position of each dataFormat 1 to 7.
constexpr std::array<std::string_view, 7> kGroupTexts = {"[RTCA]",  "[RTCM23]", "[RTCM30]", "[RTCM32-MSM]",
                                                         "[sCMRx]", "[CMR]",    "[RTD]"};
constexpr std::array<int, 8> kGroupOfFormat = {-1, 0, 1, 2, 5, 6, 3, 4};

constexpr std::array<std::string_view, 10> kLinkFormatNames = {"RTCM 2.3", "RTCM 3.2", "CMR     "};

}  // namespace

std::string_view LinkFormatName(int formatIndex) {
  if (formatIndex < 0 || formatIndex >= static_cast<int>(kLinkFormatNames.size())) return {};
  return kLinkFormatNames[static_cast<size_t>(formatIndex)];
}

std::string_view FormatGroupName(int dataFormat) {
  if (dataFormat < 1 || dataFormat >= static_cast<int>(kGroupOfFormat.size())) return {};
  return kGroupTexts[static_cast<size_t>(kGroupOfFormat[static_cast<size_t>(dataFormat)])];
}

bool WorkspaceTree::Apply(int code, const ClientEntry* entry, bool withFormatGroups) {
  bool changed = false;
  switch (code) {
    case kTreeServiceStarted:
      RemoveRoots(TreeNodeKind::kMultiBase);
      InsertMultiBase(false);
      changed = true;
      break;
    case kTreeServiceStopped:
      changed = !roots_.empty();
      roots_.clear();
      break;
    case kCodeFormatKnown:
      if (entry == nullptr) break;
      if (TreeNode* group = GroupOf(*entry)) {
        auto& bases = group->children;
        if (std::none_of(bases.begin(), bases.end(),
                         [&](const TreeNode& n) { return n.text == entry->userName; })) {
          bases.push_back(TreeNode{TreeNodeKind::kBase, entry->userName, false, false, {}});
          changed = true;
        }
      }
      break;
    case kTreeEntryClosing:
      if (entry == nullptr) break;
      if (TreeNode* group = GroupOf(*entry)) {
        auto& bases = group->children;
        auto it = std::find_if(bases.begin(), bases.end(),
                               [&](const TreeNode& n) { return n.text == entry->userName; });
        if (it != bases.end()) {
          bases.erase(it);
          changed = true;
        }
      }
      break;
    case kCodeLinkCleared:
      changed = RemoveRoots(TreeNodeKind::kLinkedServer);
      break;
    case kCodeLinkMounts:
      roots_.clear();
      if (withFormatGroups) InsertMultiBase(true);
      InsertLinkedServer();
      changed = true;
      break;
    default:
      break;
  }
  if (changed && listener_) listener_();
  return changed;
}

void WorkspaceTree::InsertMultiBase(bool checkBoxes) {
  TreeNode root{TreeNodeKind::kMultiBase, kMultiBaseText, true, checkBoxes, {}};
  for (const std::string_view text : kGroupTexts) {
    root.children.push_back(TreeNode{TreeNodeKind::kFormatGroup, std::string(text), false, false, {}});
  }
  roots_.push_back(std::move(root));
}

void WorkspaceTree::InsertLinkedServer() {
  TreeNode root{TreeNodeKind::kLinkedServer, "QVO[" + linked_.name + "]", true, false, {}};
  for (const LinkedMount& mount : linked_.mounts) {
    std::string text = "[" + std::string(LinkFormatName(mount.formatIndex)) + "] " + mount.name;
    TreeNode node{TreeNodeKind::kMountpoint, std::move(text), false, false, {}};
    node.children.push_back(TreeNode{TreeNodeKind::kDescription, mount.description, false, false, {}});
    root.children.push_back(std::move(node));
  }
  roots_.push_back(std::move(root));
}

TreeNode* WorkspaceTree::GroupOf(const ClientEntry& entry) {
  if (entry.userName.empty() || FormatGroupName(entry.dataFormat).empty()) return nullptr;
  auto root = std::find_if(roots_.begin(), roots_.end(),
                           [](const TreeNode& n) { return n.kind == TreeNodeKind::kMultiBase; });
  if (root == roots_.end()) return nullptr;
  return &root->children[static_cast<size_t>(kGroupOfFormat[static_cast<size_t>(entry.dataFormat)])];
}

bool WorkspaceTree::RemoveRoots(TreeNodeKind kind) {
  return std::erase_if(roots_, [kind](const TreeNode& n) { return n.kind == kind; }) != 0;
}
