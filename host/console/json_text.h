// A small JSON reader and string writer for the console, with texts kept as
// UTF-16 code units. A \u escape stands for one code unit, so a lone
// surrogate ("\ud800") reads as itself; strings are written in ASCII only,
// every other character as \uXXXX, so that any UTF-16 text, valid or not,
// travels on one line and back unchanged.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zuvo::json {

class ParseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Value {
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };

  // Defined where Value is complete: the object's members hold Values, and
  // some standard libraries need the element type complete to instantiate
  // the container's special members.
  Value();
  Value(const Value&);
  Value(Value&&) noexcept;
  Value& operator=(const Value&);
  Value& operator=(Value&&) noexcept;
  ~Value();

  Type type = Type::kNull;
  bool boolean = false;
  std::string number;  // the number's literal text
  std::u16string string;
  std::vector<Value> array;
  std::vector<std::pair<std::u16string, Value>> object;  // in input order

  // The member named |key| of an object (the last one when repeated).
  const Value* Find(std::u16string_view key) const;
  // The number as a 32-bit signed integer, when it is a whole number
  // written without fraction or exponent and in range.
  std::optional<int32_t> AsInt32() const;
};

// Parses one JSON text (UTF-8). Throws ParseError saying what is wrong.
Value Parse(std::string_view text);

// Appends |text| as a JSON string literal, in ASCII only.
void AppendString(std::string& out, std::u16string_view text);
std::string Quote(std::u16string_view text);

}  // namespace zuvo::json
