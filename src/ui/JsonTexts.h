#pragma once
// JSON pieces shared by the monitor's answers: a text made valid UTF-8, and a dialog's caption and
// control texts as {"caption", "controls": {id: text}}. Internal to src/ui: it brings Boost.JSON in.
#include <boost/json.hpp>
#include <string_view>

#include "app/LanguageTexts.h"

boost::json::string JsonText(std::string_view text);
boost::json::object DialogJson(const DialogTexts& dialog);
