#include "ui/StatisticsView.h"

#include <algorithm>

#include "core/StrFormat.h"
#include "db/RecordFormat.h"

DialogTexts StatisticsDialogTexts() {
  return {"",
          {{1015, "服务开启"},
           {1054, "注册用户数"},
           {1058, "活动用户"},
           {1057, "同时在线用户数(Max)"},
           {1055, "在线用户数"},
           {1059, "在线移动数"},
           {1056, "固定率"},
           {1017, "运行时间"}}};
}

std::vector<StatisticsField> StatisticsFields(const Statistics& s, int peakUsers, const LocalTime& now,
                                              const DialogTexts& labels) {
  std::string started;
  std::string running;
  if (s.startTime.IsSet()) {
    const LocalTime& t = s.startTime;
    started = StrFormat("%4d/%2d/%2d %2d:%2d:%2d", t.year, t.month, t.day, t.hour, t.minute, t.second);
    const LocalTime& end = s.stopTime.IsSet() ? s.stopTime : now;
    const long long seconds = std::max<long long>(0, SecondsBetween(t, end));
    running = StrFormat("%0lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  }
  const int rovers = std::max(0, s.usersOnline - s.basesOnline);
  std::vector<StatisticsField> fields = {
      {1015, "", started},
      {1054, "", StrFormat("%d", s.accountCount)},
      {1058, "", StrFormat("%d", s.activeAccounts)},
      {1057, "", StrFormat("%d", peakUsers)},
      {1055, "", StrFormat("%d", s.usersOnline)},
      {1059, "", StrFormat("%d", rovers)},
      {1056, "", StrFormat("%.2f%%", s.fixRate * 100)},
      {1017, "", running},
  };
  const DialogTexts builtin = StatisticsDialogTexts();
  for (auto& field : fields) {
    for (const DialogTexts* source : {&labels, &builtin}) {
      const auto it = std::find_if(source->controls.begin(), source->controls.end(),
                                   [&](const ControlText& control) { return control.id == field.control; });
      if (it == source->controls.end()) continue;
      field.label = it->text;
      break;
    }
  }
  return fields;
}
