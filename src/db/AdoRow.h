#pragma once
// Field values, result rows, bound parameters and statement lists shared by both database back ends.
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// One field value as a back end returned it: empty (never set), NULL, an integer, a real or a text.
class Ado_Value {
 public:
  enum class Kind { kEmpty, kNull, kInteger, kReal, kText };

  Ado_Value() = default;
  static Ado_Value Null();
  static Ado_Value Integer(int64_t value);
  static Ado_Value Real(double value);
  static Ado_Value Text(std::string value);

  Kind kind() const { return kind_; }
  bool IsEmpty() const { return kind_ == Kind::kEmpty; }
  bool IsNull() const { return kind_ == Kind::kNull; }
  int64_t integer() const { return integer_; }
  double real() const { return real_; }
  const std::string& text() const { return text_; }

  bool operator==(const Ado_Value&) const = default;

 private:
  Kind kind_ = Kind::kEmpty;
  int64_t integer_ = 0;
  double real_ = 0.0;
  std::string text_;
};

// One result row: column name -> value, ordered by name (byte-wise). Looking up a name the row does
// not hold inserts an empty value and returns it.
class Ado_Row {
 public:
  virtual ~Ado_Row() = default;

  Ado_Value& operator[](const std::string& name) { return values[name]; }
  // The value under a name; an empty value when the row does not hold it.
  const Ado_Value& Get(const std::string& name) const;

  std::map<std::string, Ado_Value> values;
};

// A value bound to a statement parameter ($1, $2, ... in the statement text). Outside text always
// reaches SQL this way, never pasted into the statement.
class SqlParam {
 public:
  enum class Kind { kNull, kInteger, kReal, kText };

  SqlParam(std::nullptr_t) {}                                          // NOLINT(google-explicit-constructor)
  SqlParam(int value) : kind_(Kind::kInteger), integer_(value) {}      // NOLINT
  SqlParam(int64_t value) : kind_(Kind::kInteger), integer_(value) {}  // NOLINT
  SqlParam(double value) : kind_(Kind::kReal), real_(value) {}         // NOLINT
  SqlParam(std::string value) : kind_(Kind::kText), text_(std::move(value)) {}  // NOLINT
  SqlParam(const char* value) : kind_(Kind::kText), text_(value) {}             // NOLINT

  Kind kind() const { return kind_; }
  int64_t integer() const { return integer_; }
  double real() const { return real_; }
  const std::string& text() const { return text_; }
  // The value as SQL text, as sent to the server in text format; empty for NULL.
  std::string AsText() const;

 private:
  Kind kind_ = Kind::kNull;
  int64_t integer_ = 0;
  double real_ = 0.0;
  std::string text_;
};

using SqlParams = std::vector<SqlParam>;

// One SQL statement with the values of its parameters.
struct Statement {
  Statement(std::string text) : sql(std::move(text)) {}  // NOLINT(google-explicit-constructor)
  Statement(const char* text) : sql(text) {}             // NOLINT(google-explicit-constructor)
  Statement(std::string text, SqlParams values) : sql(std::move(text)), params(std::move(values)) {}

  std::string sql;
  SqlParams params;
};

// Statements executed together: one alone, two or more as one transaction.
using StatementList = std::vector<Statement>;

// A field as text: empty and NULL give the empty text, numbers their decimal form; trailing blanks
// are removed (blanks inside the text are kept).
std::string FieldText(const Ado_Value& value);
// A field as a 32-bit integer: integer values give their value, everything else 0.
int FieldInt(const Ado_Value& value);
// A field as a real: integers and reals give their value, everything else 0.
double FieldDouble(const Ado_Value& value);
