#pragma once
// The JSON texts of the settings form: its state for GET /api/settings and the answers of its
// actions, the event of a changed service state, and the entries the page sends.
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "ui/SettingsForm.h"

// Everything the page needs to draw the form.
struct SettingsFormView {
  DialogTexts texts;  // translated caption, control and group texts
  const SettingsFormValues* values = nullptr;
  std::map<int, bool> enabled;
  bool running = false;
  std::vector<SettingsFieldError> errors;
};

// {texts: {caption, controls: [{id, text}]}, layout: [{id, controls: [{id, kind}]}],
//  values: {"<id>": number | text | bool}, enabled: {"<id>": bool}, running, errors: [{id, text}]}.
std::string SettingsFormJson(const SettingsFormView& view);
// {"type": "settings", "running", "enabled"}: the enabling rules after the service state changed.
std::string SettingsEventMessage(const std::map<int, bool>& enabled, bool running);
// Reads {"values": {"<id>": text | number | bool}} into entries as typed text (check boxes "1"/"0");
// an empty body or one without "values" gives no entries. False when the body is not such an object.
bool ParseSettingsBody(std::string_view body, std::map<int, std::string>& entries);
