#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen::cli {

// A small writer for one JSON object, written in order. Texts must be UTF-8
// (everything the log tool gives us is); control characters are escaped.
class JsonWriter {
public:
    JsonWriter& beginObject(std::string_view key = {});
    JsonWriter& endObject();
    JsonWriter& beginArray(std::string_view key = {});
    JsonWriter& endArray();
    JsonWriter& text(std::string_view key, std::optional<std::string_view> value);
    JsonWriter& integer(std::string_view key, std::optional<std::int64_t> value);
    // A number already written as JSON number text ("12.5"), or null.
    JsonWriter& number(std::string_view key, std::optional<std::string_view> value);
    JsonWriter& boolean(std::string_view key, bool value);
    JsonWriter& null(std::string_view key);

    const std::string& str() const { return out_; }

private:
    void key(std::string_view name);
    void quoted(std::string_view value);

    std::string out_;
    std::vector<bool> first_{true};
};

} // namespace quillfen::cli
