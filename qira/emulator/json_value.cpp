#include "json_value.h"

#include <cmath>
#include <cstdlib>

namespace qira {
namespace {

class Parser {
public:
    explicit Parser(const std::string& s) : s_(s) {}

    JsonValue document() {
        JsonValue v = value(0);
        skipSpace();
        if (pos_ != s_.size())
            throw JsonError(line_, "unexpected text after the end of the document");
        return v;
    }

private:
    static constexpr int kMaxDepth = 64;

    void skipSpace() {
        while (pos_ < s_.size()) {
            const char c = s_[pos_];
            if (c == '\n')
                ++line_;
            else if (c != ' ' && c != '\t' && c != '\r')
                break;
            ++pos_;
        }
    }

    char peek() {
        skipSpace();
        if (pos_ >= s_.size())
            throw JsonError(line_, "unexpected end of file");
        return s_[pos_];
    }

    void expect(char c) {
        if (peek() != c)
            throw JsonError(line_, std::string("expected '") + c + "'");
        ++pos_;
    }

    JsonValue value(int depth) {
        if (depth > kMaxDepth)
            throw JsonError(line_, "nested too deeply");
        const char c = peek();
        JsonValue v;
        v.line = line_;
        if (c == '{') {
            v.kind = JsonValue::Kind::Object;
            ++pos_;
            if (peek() == '}') {
                ++pos_;
                return v;
            }
            for (;;) {
                if (peek() != '"')
                    throw JsonError(line_, "expected a key in quotes");
                std::string key = string();
                for (const std::string& k : v.keys)
                    if (k == key)
                        throw JsonError(line_, "duplicate key \"" + key + "\"");
                expect(':');
                v.items.push_back(value(depth + 1));
                v.keys.push_back(std::move(key));
                if (peek() == ',') {
                    ++pos_;
                    continue;
                }
                expect('}');
                return v;
            }
        }
        if (c == '[') {
            v.kind = JsonValue::Kind::Array;
            ++pos_;
            if (peek() == ']') {
                ++pos_;
                return v;
            }
            for (;;) {
                v.items.push_back(value(depth + 1));
                if (peek() == ',') {
                    ++pos_;
                    continue;
                }
                expect(']');
                return v;
            }
        }
        if (c == '"') {
            v.kind = JsonValue::Kind::String;
            v.text = string();
            return v;
        }
        if (word("true")) {
            v.kind = JsonValue::Kind::Bool;
            v.boolean = true;
            return v;
        }
        if (word("false")) {
            v.kind = JsonValue::Kind::Bool;
            return v;
        }
        if (word("null"))
            return v;
        if (c == '-' || (c >= '0' && c <= '9')) {
            v.kind = JsonValue::Kind::Number;
            v.number = number();
            return v;
        }
        throw JsonError(line_, std::string("unexpected character '") + c + "'");
    }

    bool word(const char* w) {
        const std::string t(w);
        if (s_.compare(pos_, t.size(), t) != 0)
            return false;
        pos_ += t.size();
        return true;
    }

    double number() {
        const size_t start = pos_;
        if (s_[pos_] == '-')
            ++pos_;
        auto digits = [this] {
            const size_t from = pos_;
            while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9')
                ++pos_;
            return pos_ > from;
        };
        if (!digits())
            throw JsonError(line_, "malformed number");
        if (pos_ < s_.size() && s_[pos_] == '.') {
            ++pos_;
            if (!digits())
                throw JsonError(line_, "malformed number");
        }
        if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-'))
                ++pos_;
            if (!digits())
                throw JsonError(line_, "malformed number");
        }
        const double d = std::strtod(s_.substr(start, pos_ - start).c_str(), nullptr);
        if (!std::isfinite(d))
            throw JsonError(line_, "number out of range");
        return d;
    }

    std::string string() {
        ++pos_; // opening quote
        std::string out;
        while (pos_ < s_.size()) {
            const char c = s_[pos_++];
            if (c == '"')
                return out;
            if (c == '\n' || static_cast<unsigned char>(c) < 0x20)
                throw JsonError(line_, "control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= s_.size())
                break;
            const char e = s_[pos_++];
            switch (e) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case '/':
                out += '/';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'u': {
                if (pos_ + 4 > s_.size())
                    throw JsonError(line_, "bad \\u escape");
                const std::string hex = s_.substr(pos_, 4);
                char* end = nullptr;
                const long cp = std::strtol(hex.c_str(), &end, 16);
                if (*end != 0)
                    throw JsonError(line_, "bad \\u escape");
                pos_ += 4;
                if (cp < 0x80) {
                    out += char(cp);
                } else if (cp < 0x800) {
                    out += char(0xC0 | (cp >> 6));
                    out += char(0x80 | (cp & 0x3F));
                } else {
                    out += char(0xE0 | (cp >> 12));
                    out += char(0x80 | ((cp >> 6) & 0x3F));
                    out += char(0x80 | (cp & 0x3F));
                }
                break;
            }
            default:
                throw JsonError(line_, "bad escape in a string");
            }
        }
        throw JsonError(line_, "unterminated string");
    }

    const std::string& s_;
    size_t pos_ = 0;
    int line_ = 1;
};

} // namespace

JsonValue JsonValue::parse(const std::string& source) {
    return Parser(source).document();
}

const JsonValue* JsonValue::find(const std::string& key) const {
    for (size_t i = 0; i < keys.size(); ++i)
        if (keys[i] == key)
            return &items[i];
    return nullptr;
}

const char* JsonValue::kindName(Kind k) {
    switch (k) {
    case Kind::Null:
        return "null";
    case Kind::Bool:
        return "a boolean";
    case Kind::Number:
        return "a number";
    case Kind::String:
        return "a string";
    case Kind::Array:
        return "an array";
    case Kind::Object:
        return "an object";
    }
    return "?";
}

} // namespace qira
