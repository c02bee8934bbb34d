#include "logquery/LogEntry.h"

#include <simdjson.h>

namespace quillfen {

static_assert(ByteBuffer::kPadding >= simdjson::SIMDJSON_PADDING, "the decoder reads past the end of its input");

struct ParsedLog::Document {
    simdjson::dom::parser parser;
};

ParsedLog::ParsedLog() : document_(std::make_unique<Document>()) {}
ParsedLog::ParsedLog(ParsedLog&&) noexcept = default;
ParsedLog& ParsedLog::operator=(ParsedLog&&) noexcept = default;
ParsedLog::~ParsedLog() = default;

namespace {

// The buffer keeps the decoder's padding, so it is decoded in place.
simdjson::simdjson_result<simdjson::dom::element> decode(simdjson::dom::parser& parser, const ByteBuffer& output)
{
    return parser.parse(output.data(), output.size(), false);
}

} // namespace

std::optional<ParsedLog> parseLogEntries(const ByteBuffer& output)
{
    ParsedLog log;
    simdjson::dom::array array;
    if (decode(log.document_->parser, output).get_array().get(array) != simdjson::SUCCESS)
        return std::nullopt;
    log.entries_.reserve(array.size());
    for (const simdjson::dom::element element : array) {
        simdjson::dom::object object;
        if (element.get_object().get(object) != simdjson::SUCCESS)
            continue;
        // One pass over the members; a repeated key counts by its last value.
        LogEntry entry;
        bool hasTimestamp = false;
        bool hasMessage = false;
        for (const simdjson::dom::key_value_pair field : object) {
            if (field.key == "timestamp")
                hasTimestamp = field.value.get_string().get(entry.timestamp) == simdjson::SUCCESS;
            else if (field.key == "eventMessage")
                hasMessage = field.value.get_string().get(entry.eventMessage) == simdjson::SUCCESS;
            else if (field.key == "subsystem" && field.value.get_string().get(entry.subsystem) != simdjson::SUCCESS)
                entry.subsystem = {};
        }
        if (!hasTimestamp || !hasMessage)
            continue;
        log.entries_.push_back(entry);
    }
    return log;
}

JsonTopLevel jsonTopLevel(const ByteBuffer& output)
{
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    if (decode(parser, output).get(root) != simdjson::SUCCESS)
        return JsonTopLevel::Invalid;
    switch (root.type()) {
    case simdjson::dom::element_type::ARRAY:
        return simdjson::dom::array(root).size() == 0 ? JsonTopLevel::EmptyArray : JsonTopLevel::NonEmptyArray;
    case simdjson::dom::element_type::OBJECT:
        return JsonTopLevel::Object;
    default:
        return JsonTopLevel::Invalid;
    }
}

} // namespace quillfen
