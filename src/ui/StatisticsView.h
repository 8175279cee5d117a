#pragma once
// The statistics strip below the grid: its eight fields as label and text, from the statistics record.
#include <string>
#include <vector>

#include "app/LanguageTexts.h"
#include "app/MonitorEvents.h"
#include "core/LocalTime.h"

struct StatisticsField {
  int control = 0;  // the field's control number in the strip's dialog
  std::string label;
  std::string text;
};

constexpr int kStatisticsDialog = 147;

// The strip's built-in labels as the texts of its dialog, for the language table to translate.
DialogTexts StatisticsDialogTexts();

// The fields in the strip's order, labelled from labels by control number (built-in labels when
// missing). peakUsers is SYSTEMSERVER "TOTAL"; now gives the running time, which is empty (like
// the start time) while the service never started and stands at the stop time once it stopped.
std::vector<StatisticsField> StatisticsFields(const Statistics& statistics, int peakUsers,
                                              const LocalTime& now,
                                              const DialogTexts& labels = StatisticsDialogTexts());
