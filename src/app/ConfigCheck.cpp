#include "app/ConfigCheck.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <map>
#include <set>

#include "app/ProfileFile.h"
#include "app/Settings.h"

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr size_t kRelayTextLength = 2047;  // the relay file's values are read longer
constexpr size_t kRelayListItems = 20;
constexpr size_t kFlagDigits = 20;

// What a key's reader accepts.
enum class Kind {
  kText,         // any text up to the section's length
  kNumber,       // a whole number within [min, max]
  kPort,         // a whole number 0..65535
  kFlags,        // "SET": empty, or exactly 20 digits of 0 and 1
  kUseNet,       // two digits of 0 and 1: 0, 1, 10 or 11
  kAlphabet,     // empty, or a permutation of the 64 Base64 symbols
  kAddress,      // an IPv4 or IPv6 address literal
  kTileUrl,      // empty, or an http:// or https:// address
  kList,         // comma-separated names, at most 20
  kLanguage,     // a plain name: it becomes part of a file name
  kLanguageSet,  // empty or "SET"
};

struct KeyRule {
  std::string name;
  Kind kind = Kind::kText;
  long long min = INT_MIN;
  long long max = INT_MAX;
};

struct SectionRule {
  std::string name;
  std::vector<KeyRule> keys;
};

struct FileRules {
  std::vector<SectionRule> sections;
  size_t maxLength = ProfileFile::kDefaultMaxLength;
};

const FileRules& SettingsRules() {
  static const FileRules rules = [] {
    std::vector<KeyRule> net = {{"UseNet", Kind::kUseNet}};
    for (int n = 1; n <= kLinkSlots; ++n) {
      net.push_back({"IP" + std::to_string(n)});
      net.push_back({"PORT" + std::to_string(n), Kind::kPort});
    }
    return FileRules{{
        {"SYSTEM",
         {{"NAME"},
          {"Language", Kind::kLanguage},
          {"LanguageSET", Kind::kLanguageSet},
          {"MasterSlave"},
          {"ICON", Kind::kNumber, 0, 1}}},
        {"SQL",
         {{"UseSQL", Kind::kNumber, 0, 1},
          {"PORT", Kind::kPort},
          {"IP"},
          {"User"},
          {"Password"},
          {"DBname"},
          {"HostName"},
          {"Timeout", Kind::kNumber, 1},
          {"QueueLimit", Kind::kNumber, 1}}},
        {"NET", std::move(net)},
        {"SYSTEMSERVER",
         {{"TOTAL", Kind::kNumber, 0},
          {"PORT", Kind::kPort},
          {"PORT2", Kind::kPort},
          {"Disp_num", Kind::kNumber, 0},
          {"MountLocal"},
          {"MaxPerIP", Kind::kNumber, 0},
          {"MaxConnectsPerIP", Kind::kNumber, 0},
          {"Ntrip2Chunked", Kind::kNumber, 0, 1},
          {"TLSPORT", Kind::kPort},
          {"TLSCERT"},
          {"TLSKEY"},
          {"IPV6", Kind::kNumber, 0, 1},
          {"SET", Kind::kFlags},
          {"ReceiverAlphabet", Kind::kAlphabet}}},
        {"MONITOR",
         {{"PORT", Kind::kPort}, {"BIND", Kind::kAddress}, {"PASSWORD"}, {"TileURL", Kind::kTileUrl},
          {"TLS", Kind::kNumber, 0, 1}}},
    }};
  }();
  return rules;
}

const FileRules& RelayRules() {
  static const FileRules rules{
      {{"Settings", {{"IP"}, {"PORT", Kind::kPort}, {"USER", Kind::kList}, {"USER2", Kind::kList}}}},
      kRelayTextLength};
  return rules;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) {
             return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
           };
           return lower(x) == lower(y);
         });
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// The leading number as the reader takes it (optional sign, then digits); empty when there is none.
std::string_view LeadingNumber(std::string_view text) {
  size_t at = !text.empty() && (text.front() == '-' || text.front() == '+') ? 1 : 0;
  const size_t digits = at;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
  return at == digits ? std::string_view{} : text.substr(0, at);
}

// The problem of a value the reader reads as a number, or "" when it reads as written and lies in range.
std::string NumberProblem(const KeyRule& rule, std::string_view value, long long& number) {
  const std::string_view leading = LeadingNumber(value);
  if (leading.empty()) return Quoted(value) + " is not a number; the default is used";
  if (leading.size() != value.size()) {
    return Quoted(value) + " is not a number; it is read as " + std::string(leading);
  }
  const std::string_view digits = leading.front() == '+' ? leading.substr(1) : leading;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (error == std::errc::result_out_of_range) number = digits.front() == '-' ? LLONG_MIN : LLONG_MAX;
  const long long min = rule.kind == Kind::kPort ? 0 : rule.min;
  const long long max = rule.kind == Kind::kPort ? 65535 : rule.max;
  if (number >= min && number <= max) return "";
  const std::string shown(value);
  if (rule.kind == Kind::kPort) return shown + " is not a port (0..65535); the default is used";
  if (min == 0 && max == 1) return shown + " is not 0 or 1";
  // The reader stops at the largest int.
  if (number > INT_MAX) return shown + " is above " + std::to_string(INT_MAX) + "; it is read as such";
  if (max == INT_MAX) return shown + " is below " + std::to_string(min);
  return shown + " is not in " + std::to_string(min) + ".." + std::to_string(max);
}

size_t ListItems(std::string_view text) {
  size_t items = 0;
  for (size_t start = 0; start <= text.size();) {
    const size_t comma = std::min(text.find(',', start), text.size());
    if (comma > start) ++items;
    start = comma + 1;
  }
  return items;
}

bool IsAddress(const std::string& text) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, text.c_str(), buffer) == 1 || inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

bool IsLoopbackAddress(const std::string& text) {
  unsigned char buffer[16];
  if (inet_pton(AF_INET, text.c_str(), buffer) == 1) return buffer[0] == 127;
  return text == "::1";
}

// What is wrong with the value of a known key, or "".
std::string ValueProblem(const KeyRule& rule, std::string_view value, size_t maxLength) {
  long long number = 0;
  switch (rule.kind) {
    case Kind::kNumber:
    case Kind::kPort:
      return NumberProblem(rule, value, number);
    case Kind::kUseNet: {
      std::string problem = NumberProblem(rule, value, number);
      if (problem.empty() && number != 0 && number != 1 && number != 10 && number != 11)
        problem = Quoted(value) + " is not two digits of 0 and 1 (0, 1, 10 or 11)";
      return problem;
    }
    default:
      break;
  }
  if (value.size() > maxLength) return "longer than " + std::to_string(maxLength) + " bytes; the rest is cut";
  switch (rule.kind) {
    case Kind::kFlags:
      if (value.empty()) return "";
      if (value.size() != kFlagDigits || value.find_first_not_of("01") != std::string_view::npos)
        return Quoted(value) + " is not 20 digits of 0 and 1";
      return "";
    case Kind::kAlphabet:
      if (value.empty() || IsReceiverAlphabet(value)) return "";
      return "not the 64 Base64 symbols, each once; the built-in order is used";
    case Kind::kAddress:
      return IsAddress(std::string(value)) ? "" : Quoted(value) + " is not an IP address";
    case Kind::kTileUrl:
      if (value.empty() || value.starts_with("http://") || value.starts_with("https://")) return "";
      return "does not begin with http:// or https://; no tiles are fetched";
    case Kind::kList:
      if (ListItems(value) <= kRelayListItems) return "";
      return std::to_string(ListItems(value)) + " names; only the first 20 are read";
    case Kind::kLanguage:
      if (!value.empty() && value.find_first_of("/\\") == std::string_view::npos) return "";
      return Quoted(value) + " is not a plain name (it names INI/Server_<Language>.INI)";
    case Kind::kLanguageSet:
      if (value.empty() || value == "SET") return "";
      return Quoted(value) + " has no effect; only \"SET\" exports the language files";
    default:
      return "";
  }
}

// Values of the keys read, by lower-case "section/key": line and value.
using SeenValues = std::map<std::string, std::pair<int, std::string>>;

// Walks the lines as the profile reader does: the first section of a name and the first key of a name
// in it count; everything else is reported.
std::vector<ConfigFinding> CheckText(std::string_view text, const FileRules& rules, SeenValues& seen) {
  std::vector<ConfigFinding> findings;
  if (text.starts_with(kBom)) text.remove_prefix(kBom.size());
  std::set<std::string> sectionsSeen;
  const SectionRule* section = nullptr;  // the section whose keys count, or none
  bool inSection = false;
  for (int number = 1; !text.empty(); ++number) {
    const size_t nl = text.find('\n');
    const std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    const auto report = [&](std::string message) { findings.push_back({number, std::move(message)}); };

    std::string_view name, key, raw;
    if (ProfileSectionLine(line, name)) {
      inSection = true;
      section = nullptr;
      const auto rule = std::find_if(rules.sections.begin(), rules.sections.end(),
                                     [&](const SectionRule& r) { return SameName(r.name, name); });
      if (rule == rules.sections.end()) {
        report("unknown section [" + std::string(name) + "]");
      } else if (!sectionsSeen.insert(Lower(name)).second) {
        report("section [" + std::string(name) + "] appears again; only the first one is read");
      } else {
        section = &*rule;
      }
      continue;
    }
    if (!ProfileKeyLine(line, key, raw)) {
      const std::string_view trimmed = line.substr(0, line.find_last_not_of(" \t\r\v\f") + 1);
      const size_t first = trimmed.find_first_not_of(" \t\v\f");
      if (first != std::string_view::npos && trimmed[first] != ';')
        report("not a section, key or comment; the line is ignored");
      continue;
    }
    if (!inSection) {
      report("key " + Quoted(key) + " is outside any section and is ignored");
      continue;
    }
    if (section == nullptr) continue;  // the section's header is reported
    const auto rule = std::find_if(section->keys.begin(), section->keys.end(),
                                   [&](const KeyRule& r) { return SameName(r.name, key); });
    if (rule == section->keys.end()) {
      report("unknown key " + Quoted(key) + " in [" + section->name + "]");
      continue;
    }
    const std::string id = Lower(section->name) + "/" + Lower(key);
    const std::string_view value = ProfileValue(raw);
    if (!seen.try_emplace(id, number, std::string(value)).second) {
      report("key " + Quoted(key) + " appears again in [" + section->name + "]; only the first one is read");
      continue;
    }
    if (std::string problem = ValueProblem(*rule, value, rules.maxLength); !problem.empty())
      report(rule->name + ": " + problem);
  }
  return findings;
}

}  // namespace

std::vector<ConfigFinding> CheckSettingsText(std::string_view text) {
  SeenValues seen;
  std::vector<ConfigFinding> findings = CheckText(text, SettingsRules(), seen);
  // The monitor refuses to listen beyond loopback without a password.
  const auto bind = seen.find("monitor/bind");
  const auto password = seen.find("monitor/password");
  if (bind != seen.end() && IsAddress(bind->second.second) && !IsLoopbackAddress(bind->second.second) &&
      (password == seen.end() || password->second.second.empty())) {
    findings.push_back({bind->second.first, "BIND: " + Quoted(bind->second.second) +
                                                " needs a PASSWORD; without one the monitor is not started"});
    std::stable_sort(findings.begin(), findings.end(),
                     [](const ConfigFinding& a, const ConfigFinding& b) { return a.line < b.line; });
  }
  return findings;
}

std::vector<ConfigFinding> CheckRelayText(std::string_view text) {
  SeenValues seen;
  return CheckText(text, RelayRules(), seen);
}

std::string FindingLine(std::string_view file, const ConfigFinding& finding) {
  std::string line(file);
  if (finding.line > 0) line += ":" + std::to_string(finding.line);
  return line + ": " + finding.message;
}

std::vector<std::string> KnownSettingsKeys() {
  std::vector<std::string> keys;
  for (const SectionRule& section : SettingsRules().sections) {
    for (const KeyRule& key : section.keys) keys.push_back(section.name + "/" + key.name);
  }
  return keys;
}
