#pragma once
// A strict little JSON reader for checking gifdump's output: anything that is
// not valid JSON (RFC 8259) throws, strings come back as UTF-8.

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace minijson {

struct Value {
    enum Kind { Null, Bool, Number, String, Array, Object } Type = Null;
    bool B = false;
    double N = 0;
    std::string S;
    std::vector<Value> A;
    std::map<std::string, Value> O;

    const Value& operator[](const std::string& key) const {
        auto it = O.find(key);
        if (Type != Object || it == O.end()) throw std::runtime_error("missing key " + key);
        return it->second;
    }
    const Value& operator[](size_t i) const {
        if (Type != Array || i >= A.size()) throw std::runtime_error("bad array index");
        return A[i];
    }
    long long Int() const {
        if (Type != Number) throw std::runtime_error("not a number");
        return static_cast<long long>(N);
    }
    bool IsNull() const { return Type == Null; }
};

class Parser {
public:
    explicit Parser(const std::string& text) : T_(text) {}

    Value Parse() {
        Value v = ParseValue();
        Space();
        if (P_ != T_.size()) Fail("trailing characters");
        return v;
    }

private:
    [[noreturn]] void Fail(const std::string& why) {
        throw std::runtime_error("invalid JSON at " + std::to_string(P_) + ": " + why);
    }
    void Space() {
        while (P_ < T_.size() && (T_[P_] == ' ' || T_[P_] == '\n' || T_[P_] == '\r' || T_[P_] == '\t')) ++P_;
    }
    bool Eat(const char* word) {
        size_t n = std::char_traits<char>::length(word);
        if (T_.compare(P_, n, word) != 0) return false;
        P_ += n;
        return true;
    }
    Value ParseValue() {
        Space();
        if (P_ >= T_.size()) Fail("unexpected end");
        Value v;
        char c = T_[P_];
        if (c == '{') {
            v.Type = Value::Object;
            ++P_;
            Space();
            if (Eat("}")) return v;
            for (;;) {
                Space();
                if (P_ >= T_.size() || T_[P_] != '"') Fail("key expected");
                std::string key = ParseString();
                Space();
                if (!Eat(":")) Fail("':' expected");
                v.O[key] = ParseValue();
                Space();
                if (Eat("}")) return v;
                if (!Eat(",")) Fail("',' or '}' expected");
            }
        }
        if (c == '[') {
            v.Type = Value::Array;
            ++P_;
            Space();
            if (Eat("]")) return v;
            for (;;) {
                v.A.push_back(ParseValue());
                Space();
                if (Eat("]")) return v;
                if (!Eat(",")) Fail("',' or ']' expected");
            }
        }
        if (c == '"') {
            v.Type = Value::String;
            v.S = ParseString();
            return v;
        }
        if (Eat("true")) {
            v.Type = Value::Bool;
            v.B = true;
            return v;
        }
        if (Eat("false")) {
            v.Type = Value::Bool;
            return v;
        }
        if (Eat("null")) return v;
        size_t start = P_;
        if (T_[P_] == '-') ++P_;
        while (P_ < T_.size() && (isdigit(static_cast<unsigned char>(T_[P_])) || T_[P_] == '.' ||
                                  T_[P_] == 'e' || T_[P_] == 'E' || T_[P_] == '+' || T_[P_] == '-'))
            ++P_;
        if (P_ == start) Fail("value expected");
        v.Type = Value::Number;
        v.N = std::stod(T_.substr(start, P_ - start));
        return v;
    }
    static void PutUtf8(std::string& out, uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    std::string ParseString() {
        ++P_;  // opening quote
        std::string out;
        for (;;) {
            if (P_ >= T_.size()) Fail("unterminated string");
            unsigned char c = static_cast<unsigned char>(T_[P_++]);
            if (c == '"') return out;
            if (c < 0x20) Fail("raw control character in string");
            if (c >= 0x80) {
                // Raw bytes must form valid UTF-8.
                int n = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c <= 0xDF ? 1 : -1;
                if (n < 0 || P_ + static_cast<size_t>(n) > T_.size()) Fail("invalid UTF-8");
                out += static_cast<char>(c);
                for (int k = 0; k < n; ++k) {
                    unsigned char d = static_cast<unsigned char>(T_[P_++]);
                    if ((d & 0xC0) != 0x80) Fail("invalid UTF-8");
                    out += static_cast<char>(d);
                }
                continue;
            }
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (P_ >= T_.size()) Fail("bad escape");
            char e = T_[P_++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                if (P_ + 4 > T_.size()) Fail("bad \\u escape");
                uint32_t cp = static_cast<uint32_t>(std::stoul(T_.substr(P_, 4), nullptr, 16));
                P_ += 4;
                if (cp >= 0xD800 && cp <= 0xDFFF) Fail("surrogate escape");
                PutUtf8(out, cp);
                break;
            }
            default: Fail("bad escape");
            }
        }
    }

    const std::string& T_;
    size_t P_ = 0;
};

inline Value Parse(const std::string& text) { return Parser(text).Parse(); }

}  // namespace minijson
