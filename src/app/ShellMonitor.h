#pragma once
// The monitor events of the caster routed to their models: log lines to the output log, tree
// codes to the workspace tree.
#include <functional>
#include <utility>

#include "app/MonitorEvents.h"
#include "app/OutputLog.h"
#include "app/WorkspaceTree.h"

struct Settings;

class ShellMonitor : public MonitorEvents {
 public:
  ShellMonitor(OutputLog& log, WorkspaceTree& tree) : log_(log), tree_(tree) {}

  // Settings whose fixedBase and movingBase flags code 15 reads when it arrives; while unset both
  // count as off. Set once the shared state that holds them exists.
  void SetSettings(const Settings* settings) { settings_ = settings; }
  // Where code 15 takes the linked server from; while unset the tree shows what it was last given.
  void SetLinkedServerSource(std::function<LinkedServer()> source) { linkedSource_ = std::move(source); }

  void OnLogLine(const LogRecord& record) override;
  void OnTree(int code, const ClientEntry* entry, int value) override;

  OutputLog& log() { return log_; }
  WorkspaceTree& tree() { return tree_; }

 private:
  OutputLog& log_;
  WorkspaceTree& tree_;
  const Settings* settings_ = nullptr;
  std::function<LinkedServer()> linkedSource_;
};
