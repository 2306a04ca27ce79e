#include "cli/Json.h"

#include <cstdio>

namespace Qbox {

std::string JsonWriter::Quote(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"': quoted += "\\\""; break;
            case '\\': quoted += "\\\\"; break;
            case '\n': quoted += "\\n"; break;
            case '\r': quoted += "\\r"; break;
            case '\t': quoted += "\\t"; break;
            default:
                if (byte < 0x20 || byte >= 0x7F) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", byte);
                    quoted += escape;
                } else {
                    quoted += c;
                }
        }
    }
    quoted += '"';
    return quoted;
}

void JsonWriter::BeforeValue() {
    if (AfterKey) {
        AfterKey = false;
        return;
    }
    if (!HasItems.empty()) {
        if (HasItems.back()) Out << ',';
        HasItems.back() = true;
    }
}

JsonWriter& JsonWriter::BeginObject() {
    BeforeValue();
    Out << '{';
    HasItems.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::EndObject() {
    HasItems.pop_back();
    Out << '}';
    return *this;
}

JsonWriter& JsonWriter::BeginArray() {
    BeforeValue();
    Out << '[';
    HasItems.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::EndArray() {
    HasItems.pop_back();
    Out << ']';
    return *this;
}

JsonWriter& JsonWriter::Key(const std::string& name) {
    BeforeValue();
    Out << Quote(name) << ':';
    AfterKey = true;
    return *this;
}

JsonWriter& JsonWriter::String(const std::string& text) {
    BeforeValue();
    Out << Quote(text);
    return *this;
}

JsonWriter& JsonWriter::Number(int64_t value) {
    BeforeValue();
    Out << value;
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
    BeforeValue();
    Out << (value ? "true" : "false");
    return *this;
}

JsonWriter& JsonWriter::Null() {
    BeforeValue();
    Out << "null";
    return *this;
}

JsonWriter& JsonWriter::StringOrNull(const std::string& text) { return text.empty() ? Null() : String(text); }

}  // namespace Qbox
