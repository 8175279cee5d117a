#include "app/ShellMonitor.h"

#include "app/Settings.h"

void ShellMonitor::OnLogLine(const LogRecord& record) { log_.Append(record); }

void ShellMonitor::OnTree(int code, const ClientEntry* entry, int /*value*/) {
  bool withFormatGroups = false;
  if (code == WorkspaceTree::kCodeLinkMounts) {
    if (linkedSource_) tree_.SetLinkedServer(linkedSource_());
    withFormatGroups =
        settings_ != nullptr && (settings_->flags.fixedBase != 0 || settings_->flags.movingBase != 0);
  }
  tree_.Apply(code, entry, withFormatGroups);
}
