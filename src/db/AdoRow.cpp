#include "db/AdoRow.h"

#include <charconv>
#include <system_error>

namespace {

// Shortest decimal text that reads back as the same double.
std::string RealText(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return result.ec == std::errc() ? std::string(buffer, result.ptr) : std::string();
}

}  // namespace

Ado_Value Ado_Value::Null() {
  Ado_Value v;
  v.kind_ = Kind::kNull;
  return v;
}

Ado_Value Ado_Value::Integer(int64_t value) {
  Ado_Value v;
  v.kind_ = Kind::kInteger;
  v.integer_ = value;
  return v;
}

Ado_Value Ado_Value::Real(double value) {
  Ado_Value v;
  v.kind_ = Kind::kReal;
  v.real_ = value;
  return v;
}

Ado_Value Ado_Value::Text(std::string value) {
  Ado_Value v;
  v.kind_ = Kind::kText;
  v.text_ = std::move(value);
  return v;
}

const Ado_Value& Ado_Row::Get(const std::string& name) const {
  static const Ado_Value kEmpty;
  auto it = values.find(name);
  return it == values.end() ? kEmpty : it->second;
}

std::string SqlParam::AsText() const {
  switch (kind_) {
    case Kind::kInteger:
      return std::to_string(integer_);
    case Kind::kReal:
      return RealText(real_);
    case Kind::kText:
      return text_;
    case Kind::kNull:
      break;
  }
  return {};
}

std::string FieldText(const Ado_Value& value) {
  std::string text;
  switch (value.kind()) {
    case Ado_Value::Kind::kEmpty:
    case Ado_Value::Kind::kNull:
      return {};
    case Ado_Value::Kind::kInteger:
      return std::to_string(value.integer());
    case Ado_Value::Kind::kReal:
      return RealText(value.real());
    case Ado_Value::Kind::kText:
      text = value.text();
      break;
  }
  // Fixed-width server columns pad with blanks; only those are dropped.
  const size_t end = text.find_last_not_of(' ');
  text.erase(end == std::string::npos ? 0 : end + 1);
  return text;
}

int FieldInt(const Ado_Value& value) {
  return value.kind() == Ado_Value::Kind::kInteger ? static_cast<int>(static_cast<uint32_t>(value.integer()))
                                                   : 0;
}

double FieldDouble(const Ado_Value& value) {
  if (value.kind() == Ado_Value::Kind::kInteger) return static_cast<double>(value.integer());
  if (value.kind() == Ado_Value::Kind::kReal) return value.real();
  return 0.0;
}
