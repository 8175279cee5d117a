#pragma once
// A strict reader of the Prometheus text exposition format 0.0.4 for tests: names and labels by the
// format's syntax, HELP and TYPE before a family's samples, each family in one block, counters named
// "_total", histograms with cumulative buckets ending in +Inf and matching _sum and _count.
#include <cctype>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

struct PromSample {
  std::string name;
  std::map<std::string, std::string> labels;
  double value = 0;
};

struct PromFamily {
  std::string help, type;
  std::vector<PromSample> samples;
};

class PromPage {
 public:
  // Reads a page; false with the fault in error().
  bool Parse(const std::string& text) {
    if (text.empty() || text.back() != '\n') return Fail("page does not end with a line feed");
    size_t at = 0;
    while (at < text.size()) {
      const size_t end = text.find('\n', at);
      if (!Line(text.substr(at, end - at))) return false;
      at = end + 1;
    }
    for (const auto& [name, family] : families) {
      if (family.type == "histogram" && !CheckHistogram(name, family)) return false;
    }
    return true;
  }
  // The value of the sample with these labels; -1 when absent.
  double Value(const std::string& name, const std::map<std::string, std::string>& labels = {}) const {
    for (const auto& [family, f] : families) {
      for (const PromSample& s : f.samples)
        if (s.name == name && s.labels == labels) return s.value;
    }
    return -1;
  }
  const std::string& error() const { return error_; }

  std::map<std::string, PromFamily> families;

 private:
  static bool IsName(const std::string& s, bool colon) {
    if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0]))) return false;
    for (const char c : s)
      if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || (colon && c == ':'))) return false;
    return true;
  }
  bool Fail(const std::string& why) {
    error_ = why;
    return false;
  }
  bool Line(const std::string& line) {
    if (line.rfind("# HELP ", 0) == 0 || line.rfind("# TYPE ", 0) == 0) {
      const std::string rest = line.substr(7);
      const size_t space = rest.find(' ');
      const std::string name = rest.substr(0, space);
      const std::string word = space == std::string::npos ? "" : rest.substr(space + 1);
      if (!IsName(name, true) || word.empty()) return Fail("bad comment: " + line);
      PromFamily& family = families[name];
      if (!family.samples.empty()) return Fail("HELP or TYPE after samples: " + line);
      std::string& field = line[2] == 'H' ? family.help : family.type;
      if (!field.empty()) return Fail("repeated: " + line);
      field = word;
      if (line[2] == 'T' && word != "counter" && word != "gauge" && word != "histogram")
        return Fail("unknown type: " + line);
      if (word == "counter" && !name.ends_with("_total")) return Fail("counter without _total: " + name);
      return true;
    }
    PromSample sample;
    size_t at = line.find_first_of("{ ");
    sample.name = line.substr(0, at);
    if (!IsName(sample.name, true)) return Fail("bad metric name: " + line);
    if (at != std::string::npos && line[at] == '{' && !Labels(line, ++at, sample)) return false;
    if (at >= line.size() || line[at] != ' ') return Fail("no value: " + line);
    const std::string value = line.substr(at + 1);
    char* end = nullptr;
    sample.value = value == "+Inf" ? 1e300 : std::strtod(value.c_str(), &end);
    if (value != "+Inf" && (value.empty() || *end != '\0')) return Fail("bad value: " + line);
    const std::string family = FamilyOf(sample.name);
    auto it = families.find(family);
    if (it == families.end() || it->second.help.empty() || it->second.type.empty())
      return Fail("sample before HELP and TYPE: " + line);
    if (family != current_ && !it->second.samples.empty()) return Fail("family split: " + line);
    current_ = family;
    it->second.samples.push_back(sample);
    return true;
  }
  bool Labels(const std::string& line, size_t& at, PromSample& sample) {
    while (at < line.size() && line[at] != '}') {
      const size_t eq = line.find("=\"", at);
      if (eq == std::string::npos) return Fail("bad label: " + line);
      const std::string name = line.substr(at, eq - at);
      if (!IsName(name, false) || sample.labels.count(name)) return Fail("bad label name: " + line);
      std::string value;
      for (at = eq + 2; at < line.size() && line[at] != '"'; ++at) {
        if (line[at] == '\\') {
          if (++at == line.size()) break;
          const char c = line[at];
          if (c != '\\' && c != '"' && c != 'n') return Fail("bad escape: " + line);
          value += c == 'n' ? '\n' : c;
        } else {
          value += line[at];
        }
      }
      if (at == line.size()) return Fail("unterminated label: " + line);
      sample.labels[name] = value;
      if (line[++at] == ',') ++at;
    }
    if (at == line.size()) return Fail("unterminated labels: " + line);
    ++at;
    return true;
  }
  std::string FamilyOf(const std::string& name) const {
    for (const char* suffix : {"_bucket", "_sum", "_count"}) {
      const std::string s = suffix;
      if (!name.ends_with(s)) continue;
      const auto it = families.find(name.substr(0, name.size() - s.size()));
      if (it != families.end() && it->second.type == "histogram") return it->first;
    }
    return name;
  }
  bool CheckHistogram(const std::string& name, const PromFamily& family) {
    double lastBound = -1, lastCount = -1, sum = -1, count = -1;
    bool infinite = false;
    for (const PromSample& s : family.samples) {
      if (s.name == name + "_sum") sum = s.value;
      if (s.name == name + "_count") count = s.value;
      if (s.name != name + "_bucket") continue;
      if (infinite) return Fail(name + ": bucket after +Inf");
      const std::string le = s.labels.count("le") ? s.labels.at("le") : "";
      infinite = le == "+Inf";
      const double bound = infinite ? 1e300 : std::strtod(le.c_str(), nullptr);
      if (le.empty() || bound <= lastBound) return Fail(name + ": bounds not increasing at le=" + le);
      if (s.value < lastCount) return Fail(name + ": buckets not cumulative at le=" + le);
      lastBound = bound;
      lastCount = s.value;
    }
    if (!infinite) return Fail(name + ": no +Inf bucket");
    if (sum < 0 || count != lastCount) return Fail(name + ": _sum missing or _count not the +Inf bucket");
    return true;
  }

  std::string current_;
  std::string error_;
};

}  // namespace testsupport
