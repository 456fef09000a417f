#pragma once
// Read-only access to JSON documents. A missing result is "no value" (a null
// pointer or an empty optional), never an error; the JSON literal null is a
// value like any other.

#include <QString>
#include <QStringView>

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using JsonValue = nlohmann::json;

// The first complete JSON value of the text (comments skipped, whatever
// follows the value ignored), or no value for an incomplete or broken text.
std::optional<JsonValue> JsonParse(QStringView text);
std::optional<JsonValue> JsonParseUtf8(std::string_view utf8);

// The value of member `name`; no value when `value` is no value, not an
// object, or has no such member.
const JsonValue* JsonMember(const JsonValue* value, std::string_view name);

// `value` itself when it is an array, otherwise no array.
const JsonValue* JsonAsArray(const JsonValue* value);

std::size_t JsonCount(const JsonValue& array);

// The element at `index`, or no value past the end.
const JsonValue* JsonElement(const JsonValue& array, std::size_t index);

// A value as text: a string's characters, "null", "true"/"false", a number's
// JSON text, an object's or array's compact JSON; no value gives "".
QString JsonText(const JsonValue* value);

// JsonText(JsonMember(value, name)).
QString JsonMemberText(const JsonValue* value, std::string_view name);

// Texts of the elements of an array, one per element in order, consecutive
// equal texts stored once with the number of elements that have them.
struct JsonTextRuns {
    struct Run {
        std::size_t end;   // the text is texts[end of the previous run, end)
        std::size_t count; // elements with this text, at least 1
    };
    std::string texts; // UTF-8
    std::vector<Run> runs;

    std::string_view Text(std::size_t run) const {
        const std::size_t begin = run == 0 ? 0 : runs[run - 1].end;
        return std::string_view(texts).substr(begin, runs[run].end - begin);
    }
    std::size_t ElementCount() const;
};

// For the array in member `arrayName` of the root object of the first JSON
// value of `utf8`: JsonMemberText(element, memberName) of each element, as
// UTF-8, read straight from the text without building the document, in
// memory a small multiple of the text whatever its shape. No value where
// JsonParseUtf8 would give none, or when the root is not an object, lacks the
// member or holds no array in it. Of duplicate names the last counts, as in
// the document.
std::optional<JsonTextRuns> JsonArrayMemberTexts(std::string_view utf8, std::string_view arrayName,
                                                 std::string_view memberName);
