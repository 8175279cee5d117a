#include "ui/SettingsActions.h"

#include "app/LogonRegistration.h"

std::vector<SettingsFieldError> SaveSettingsForm(SettingsForm& form,
                                                 const std::map<int, std::string>& entries, bool running,
                                                 Settings& settings, const std::string& settingsFile,
                                                 const std::string& programDirectory, const LocalTime& now) {
  if (!form.initialised()) form.Initialise(settings, now);
  std::vector<SettingsFieldError> errors = form.Take(entries, running);
  ApplyFormValues(form.values(), settings);
  WriteSqlSettings(settingsFile, settings);
  WriteNetSettings(settingsFile, settings);
  WriteSystemServerSettings(settingsFile, settings);
  if (settings.flags.autoRunAtLogon != 0) {
    RegisterAtLogon(RunningBinary(), programDirectory);
  } else {
    UnregisterAtLogon();
  }
  return errors;
}
