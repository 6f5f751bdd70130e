// A small JSON reader that remembers the line of every value, so that a bad
// configuration can be refused with the line that is wrong.
#pragma once

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace qira {

// Carries the line of the offending text; line 0 when it has none.
class JsonError : public std::runtime_error {
public:
    JsonError(int line, const std::string& what) : std::runtime_error(what), line_(line) {}
    int line() const { return line_; }

private:
    int line_;
};

class JsonValue {
public:
    enum class Kind { Null, Bool, Number, String, Array, Object };

    Kind kind = Kind::Null;
    int line = 0;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<JsonValue> items;  // of an array, or the values of an object
    std::vector<std::string> keys; // of an object, one per item

    static JsonValue parse(const std::string& source);

    bool isObject() const { return kind == Kind::Object; }
    bool isArray() const { return kind == Kind::Array; }
    const JsonValue* find(const std::string& key) const;
    static const char* kindName(Kind k);
};

} // namespace qira
