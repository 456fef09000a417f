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

// The compact JSON text of a scalar (a string with its quotes and escapes,
// a number, true, false, null), as JsonText writes it inside containers.
std::string ScalarJson(const JsonValue& value);
