// JSON reading: parse from UTF-8 bytes and from text, then walk the value with
// the reader's accessors and read every member and element as text; the
// slugs of "resources" read without the document must be the document's.
#include "fuzz_support.h"

#include "site/search_answer.h"
#include "text/json_reader.h"

#include <string>
#include <string_view>
#include <vector>

namespace {

// Visits every value of the document (without recursion: a hostile document
// may be nested very deeply) and reads it through the accessors.
void Walk(const JsonValue& root) {
    std::vector<const JsonValue*> pending{&root};
    while (!pending.empty()) {
        const JsonValue* value = pending.back();
        pending.pop_back();
        if (const JsonValue* array = JsonAsArray(value)) {
            const std::size_t count = JsonCount(*array);
            FUZZ_CHECK(count == array->size());
            for (std::size_t i = 0; i < count; ++i) {
                const JsonValue* element = JsonElement(*array, i);
                FUZZ_CHECK(element == &(*array)[i]);
                pending.push_back(element);
            }
            FUZZ_CHECK(JsonElement(*array, count) == nullptr);
        } else if (value->is_object()) {
            FUZZ_CHECK(JsonCount(*value) == 0 && JsonElement(*value, 0) == nullptr);
            for (auto it = value->cbegin(); it != value->cend(); ++it) {
                const JsonValue* member = JsonMember(value, it.key());
                FUZZ_CHECK(member == &it.value());
                if (!member->is_object() && !member->is_array())
                    (void)JsonMemberText(value, it.key());
                pending.push_back(member);
            }
            // The members the run reads, present or not.
            (void)JsonMemberText(value, "slug");
            (void)JsonAsArray(JsonMember(value, "resources"));
        } else {
            FUZZ_CHECK(JsonMember(value, "slug") == nullptr);
            const QString text = JsonText(value);
            if (value->is_string()) {
                const QByteArray utf8 = text.toUtf8();
                FUZZ_CHECK(
                    std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())) ==
                    value->get_ref<const std::string&>());
            }
        }
    }
}

// The search response's slugs read without the document: the texts the
// document gives, or no value exactly where it has no "resources" array.
void CheckSlugTexts(std::string_view utf8, const std::optional<JsonValue>& document) {
    const std::optional<JsonTextRuns> runs = JsonArrayMemberTexts(utf8, "resources", "slug");
    const JsonValue* array = document ? JsonAsArray(JsonMember(&*document, "resources")) : nullptr;
    FUZZ_CHECK(runs.has_value() == (array != nullptr));
    if (!runs)
        return;
    FUZZ_CHECK(runs->ElementCount() == JsonCount(*array));
    std::size_t element = 0;
    for (std::size_t run = 0; run < runs->runs.size(); ++run) {
        const std::string_view text = runs->Text(run);
        FUZZ_CHECK(run == 0 || runs->Text(run - 1) != text);
        const QString slug = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
        for (std::size_t i = 0; i < runs->runs[run].count; ++i, ++element)
            FUZZ_CHECK(slug == JsonMemberText(JsonElement(*array, element), "slug"));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view utf8(reinterpret_cast<const char*>(data), size);
    const std::optional<JsonValue> document = JsonParseUtf8(utf8);
    CheckSlugTexts(utf8, document);

    // The text path agrees with the byte path whenever decoding loses nothing.
    const QString text = BodyText(data, size);
    const std::optional<JsonValue> fromText = JsonParse(text);
    const QByteArray again = text.toUtf8();
    if (std::string_view(again.constData(), static_cast<std::size_t>(again.size())) == utf8) {
        FUZZ_CHECK(document.has_value() == fromText.has_value());
        // Compared through their texts: the library's == recurses per level.
        FUZZ_CHECK(!document || JsonText(&*document) == JsonText(&*fromText));
    }
    if (!document)
        return 0;

    // A container's text is compact JSON that reads back to the same text.
    const QString compact = JsonText(&*document);
    if (document->is_object() || document->is_array()) {
        const std::optional<JsonValue> reread = JsonParse(compact);
        FUZZ_CHECK(reread.has_value());
        FUZZ_CHECK(JsonText(&*reread) == compact);
    }
    Walk(*document);
    return 0;
}
