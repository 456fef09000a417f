#include "text/json_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

std::optional<JsonValue> JsonParseUtf8(std::string_view utf8) {
    // A non-strict SAX parse stops after the first complete value, so trailing
    // text is ignored; the DOM builder reports failure instead of throwing.
    JsonValue result;
    nlohmann::detail::json_sax_dom_parser<JsonValue> builder(result, false);
    const bool ok = JsonValue::sax_parse(utf8.begin(), utf8.end(), &builder,
                                         nlohmann::detail::input_format_t::json,
                                         /*strict=*/false, /*ignore_comments=*/true);
    if (!ok || result.is_discarded())
        return std::nullopt;
    return result;
}

std::optional<JsonValue> JsonParse(QStringView text) {
    const QByteArray utf8 = text.toUtf8();
    return JsonParseUtf8(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

const JsonValue* JsonMember(const JsonValue* value, std::string_view name) {
    if (value == nullptr || !value->is_object())
        return nullptr;
    const auto it = value->find(name);
    if (it == value->end())
        return nullptr;
    return &*it;
}

const JsonValue* JsonAsArray(const JsonValue* value) {
    return value != nullptr && value->is_array() ? value : nullptr;
}

std::size_t JsonCount(const JsonValue& array) {
    return array.is_array() ? array.size() : 0;
}

const JsonValue* JsonElement(const JsonValue& array, std::size_t index) {
    if (!array.is_array() || index >= array.size())
        return nullptr;
    return &array[index];
}

std::string ScalarJson(const JsonValue& value) {
    return value.dump(-1, ' ', false, JsonValue::error_handler_t::replace);
}

namespace {

// Compact JSON text, written with an explicit stack: the library's own dump
// recurses once per nesting level, and a hostile document nested a few
// hundred thousand levels deep would overflow the thread's stack.
std::string CompactJson(const JsonValue& root) {
    struct Level {
        const JsonValue* container;
        JsonValue::const_iterator next;
    };
    std::string out;
    std::vector<Level> levels;
    const JsonValue* value = &root;
    for (;;) {
        if (value != nullptr) {
            if (value->is_object() || value->is_array()) {
                out += value->is_object() ? '{' : '[';
                levels.push_back({value, value->cbegin()});
            } else {
                out += ScalarJson(*value);
            }
            value = nullptr;
        }
        if (levels.empty())
            break;
        Level& level = levels.back();
        if (level.next == level.container->cend()) {
            out += level.container->is_object() ? '}' : ']';
            levels.pop_back();
            continue;
        }
        if (level.next != level.container->cbegin())
            out += ',';
        if (level.container->is_object()) {
            out += ScalarJson(JsonValue(level.next.key()));
            out += ':';
        }
        value = &*level.next;
        ++level.next;
    }
    return out;
}

} // namespace

QString JsonText(const JsonValue* value) {
    if (value == nullptr)
        return {};
    if (value->is_string()) {
        const auto& s = value->get_ref<const std::string&>();
        return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
    }
    // Numbers, literals, objects and arrays: their compact JSON text.
    const std::string text = CompactJson(*value);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString JsonMemberText(const JsonValue* value, std::string_view name) {
    return JsonText(JsonMember(value, name));
}
