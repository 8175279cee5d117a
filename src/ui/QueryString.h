#pragma once
// Query parameters of a request target.
#include <string>
#include <string_view>

// A query parameter of a target, percent-decoded ("+" is a blank); empty when absent.
std::string QueryParameter(std::string_view target, std::string_view name);
