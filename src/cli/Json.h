// A small JSON writer: commas and nesting handled, strings escaped so that any
// bytes read from an image come out as valid JSON.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace Qbox {

class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out) : Out(out) {}

    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    JsonWriter& Key(const std::string& name);
    JsonWriter& String(const std::string& text);
    JsonWriter& Number(int64_t value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();
    // A string, or null when it is empty.
    JsonWriter& StringOrNull(const std::string& text);

    // Bytes outside printable ASCII are written as \u00XX (read as Latin-1),
    // so a name with stray bytes never makes the output invalid.
    static std::string Quote(const std::string& text);

private:
    void BeforeValue();

    std::ostream& Out;
    std::vector<bool> HasItems;  // one per open object or array
    bool AfterKey = false;
};

}  // namespace Qbox
