// A small JSON reader for test expectation files: objects, arrays, strings,
// integers, booleans and null. Throws std::runtime_error on malformed input.
#pragma once

#include <cctype>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace TestSupport {

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
    bool boolean = false;
    long long number = 0;
    std::string text;
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> members;

    bool Has(const std::string& key) const { return members.count(key) != 0; }
    const JsonValue& operator[](const std::string& key) const {
        auto it = members.find(key);
        if (it == members.end()) throw std::runtime_error("missing JSON member " + key);
        return it->second;
    }
    bool IsNull() const { return kind == Kind::Null; }
};

class JsonReader {
public:
    explicit JsonReader(std::string text) : Text(std::move(text)) {}

    JsonValue Parse() {
        JsonValue value = ParseValue();
        SkipBlanks();
        if (Pos != Text.size()) Fail("trailing characters");
        return value;
    }

    static JsonValue ParseFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        if (!in) throw std::runtime_error("cannot open " + path);
        std::stringstream buffer;
        buffer << in.rdbuf();
        return JsonReader(buffer.str()).Parse();
    }

private:
    [[noreturn]] void Fail(const std::string& why) const {
        throw std::runtime_error("JSON: " + why + " at " + std::to_string(Pos));
    }
    void SkipBlanks() {
        while (Pos < Text.size() && std::isspace(static_cast<unsigned char>(Text[Pos]))) ++Pos;
    }
    char Next() {
        if (Pos >= Text.size()) Fail("unexpected end");
        return Text[Pos++];
    }
    void Expect(const char* word) {
        for (const char* p = word; *p; ++p) {
            if (Next() != *p) Fail(std::string("expected ") + word);
        }
    }

    JsonValue ParseValue() {
        SkipBlanks();
        if (Pos >= Text.size()) Fail("unexpected end");
        JsonValue v;
        const char c = Text[Pos];
        if (c == '{') {
            v.kind = JsonValue::Kind::Object;
            ++Pos;
            SkipBlanks();
            if (Pos < Text.size() && Text[Pos] == '}') {
                ++Pos;
                return v;
            }
            for (;;) {
                SkipBlanks();
                std::string key = ParseString();
                SkipBlanks();
                if (Next() != ':') Fail("expected ':'");
                v.members[key] = ParseValue();
                SkipBlanks();
                const char sep = Next();
                if (sep == '}') return v;
                if (sep != ',') Fail("expected ',' or '}'");
            }
        }
        if (c == '[') {
            v.kind = JsonValue::Kind::Array;
            ++Pos;
            SkipBlanks();
            if (Pos < Text.size() && Text[Pos] == ']') {
                ++Pos;
                return v;
            }
            for (;;) {
                v.items.push_back(ParseValue());
                SkipBlanks();
                const char sep = Next();
                if (sep == ']') return v;
                if (sep != ',') Fail("expected ',' or ']'");
            }
        }
        if (c == '"') {
            v.kind = JsonValue::Kind::String;
            v.text = ParseString();
            return v;
        }
        if (c == 't') {
            Expect("true");
            v.kind = JsonValue::Kind::Bool;
            v.boolean = true;
            return v;
        }
        if (c == 'f') {
            Expect("false");
            v.kind = JsonValue::Kind::Bool;
            return v;
        }
        if (c == 'n') {
            Expect("null");
            return v;
        }
        if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) {
            v.kind = JsonValue::Kind::Number;
            const size_t start = Pos;
            if (Text[Pos] == '-') ++Pos;
            while (Pos < Text.size() && std::isdigit(static_cast<unsigned char>(Text[Pos]))) ++Pos;
            if (Pos < Text.size() && (Text[Pos] == '.' || Text[Pos] == 'e' || Text[Pos] == 'E'))
                Fail("only integers are supported");
            v.number = std::stoll(Text.substr(start, Pos - start));
            return v;
        }
        Fail("unexpected character");
    }

    std::string ParseString() {
        if (Next() != '"') Fail("expected string");
        std::string s;
        for (;;) {
            char c = Next();
            if (c == '"') return s;
            if (c != '\\') {
                s += c;
                continue;
            }
            c = Next();
            switch (c) {
                case 'n': s += '\n'; break;
                case 't': s += '\t'; break;
                case 'r': s += '\r'; break;
                case 'b': s += '\b'; break;
                case 'f': s += '\f'; break;
                case 'u': {
                    // Only the ASCII range is expected in these files.
                    const std::string hex = Text.substr(Pos, 4);
                    if (hex.size() != 4) Fail("short \\u escape");
                    Pos += 4;
                    s += static_cast<char>(std::stoi(hex, nullptr, 16) & 0x7F);
                    break;
                }
                default: s += c; break;
            }
        }
    }

    std::string Text;
    size_t Pos = 0;
};

}  // namespace TestSupport
