#include "cli/Json.h"

#include <array>
#include <cstdio>

namespace quillfen::cli {

void JsonWriter::key(std::string_view name)
{
    if (!first_.back())
        out_ += ',';
    first_.back() = false;
    if (!name.empty()) {
        quoted(name);
        out_ += ':';
    }
}

void JsonWriter::quoted(std::string_view value)
{
    out_ += '"';
    for (const char c : value) {
        switch (c) {
        case '"':
            out_ += "\\\"";
            break;
        case '\\':
            out_ += "\\\\";
            break;
        case '\n':
            out_ += "\\n";
            break;
        case '\t':
            out_ += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                std::array<char, 8> escaped{};
                std::snprintf(escaped.data(), escaped.size(), "\\u%04x", static_cast<unsigned>(c));
                out_ += escaped.data();
            } else {
                out_ += c;
            }
        }
    }
    out_ += '"';
}

JsonWriter& JsonWriter::beginObject(std::string_view name)
{
    if (!out_.empty())
        key(name);
    out_ += '{';
    first_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::endObject()
{
    first_.pop_back();
    out_ += '}';
    return *this;
}

JsonWriter& JsonWriter::beginArray(std::string_view name)
{
    key(name);
    out_ += '[';
    first_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::endArray()
{
    first_.pop_back();
    out_ += ']';
    return *this;
}

JsonWriter& JsonWriter::text(std::string_view name, std::optional<std::string_view> value)
{
    key(name);
    if (value)
        quoted(*value);
    else
        out_ += "null";
    return *this;
}

JsonWriter& JsonWriter::integer(std::string_view name, std::optional<std::int64_t> value)
{
    key(name);
    out_ += value ? std::to_string(*value) : "null";
    return *this;
}

JsonWriter& JsonWriter::number(std::string_view name, std::optional<std::string_view> value)
{
    key(name);
    out_ += value ? *value : "null";
    return *this;
}

JsonWriter& JsonWriter::boolean(std::string_view name, bool value)
{
    key(name);
    out_ += value ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::null(std::string_view name)
{
    key(name);
    out_ += "null";
    return *this;
}

} // namespace quillfen::cli
