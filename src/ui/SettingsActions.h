#pragma once
// The save of the settings form: the operator's entries into the form, the form into the settings,
// the settings into the file, and the registration at log-on.
#include <map>
#include <string>
#include <vector>

#include "app/Settings.h"
#include "ui/SettingsForm.h"

// Initialises the form from settings at now when it was never shown, takes the entries into it (see
// SettingsForm::Take), copies it into settings, writes the sections "SQL", "NET" and "SYSTEMSERVER"
// in this order, then writes or removes the log-on entry by autoRunAtLogon. File and registration
// failures are ignored. Returns the field errors.
std::vector<SettingsFieldError> SaveSettingsForm(SettingsForm& form,
                                                 const std::map<int, std::string>& entries, bool running,
                                                 Settings& settings, const std::string& settingsFile,
                                                 const std::string& programDirectory, const LocalTime& now);
