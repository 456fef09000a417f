// The search answers' reader against the document reading: the texts the
// document gives for "slug" of every element of "resources", whatever the
// shape.
#include "site/search_answer.h"

#include "support/print_qstring.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

using namespace Qt::StringLiterals;

// JsonArrayMemberTexts against the document: for each response, the texts
// the document gives for "slug" of every element of "resources", or no value
// where the document has no such array.
namespace {

std::optional<std::vector<QString>> DocumentSlugs(std::string_view utf8) {
    const std::optional<JsonValue> doc = JsonParseUtf8(utf8);
    if (!doc)
        return std::nullopt;
    const JsonValue* array = JsonAsArray(JsonMember(&*doc, "resources"));
    if (array == nullptr)
        return std::nullopt;
    std::vector<QString> slugs;
    for (std::size_t i = 0; i < JsonCount(*array); ++i)
        slugs.push_back(JsonMemberText(JsonElement(*array, i), "slug"));
    return slugs;
}

// Deep and wide hostile shapes, built the same way on every run.
std::string DeepSlug(int depth) {
    // Each level an object whose members come in reverse order, the deeper
    // value last, inside an array every third level.
    std::string open;
    std::string close;
    for (int i = 0; i < depth; ++i) {
        open += i % 3 == 2 ? "[1,{\"b\":0,\"a\":" : "{\"b\":" + std::to_string(i) + ",\"a\":";
        close.insert(0, i % 3 == 2 ? "}]" : "}");
    }
    return "{\"resources\":[{\"slug\":" + open + "null" + close + "}]}";
}

std::string WideSlug(int members) {
    // Many names, most of them repeated, in a scrambled order.
    std::string object = "{";
    unsigned state = 12345;
    for (int i = 0; i < members; ++i) {
        state = state * 1103515245u + 12345u;
        object +=
            (i ? ",\"k" : "\"k") + std::to_string((state >> 16) % 300) + "\":" + std::to_string(i);
    }
    return "{\"resources\":[{\"slug\":" + object + "},\"id\":1}]}";
}

std::string ManyElements(int count) {
    std::string text = "{\"resources\":[";
    for (int i = 0; i < count; ++i)
        text += i % 7 == 3 ? "{\"slug\":\"s\"}," : i % 5 == 0 ? "null," : "{},";
    return text + "{}]}";
}

// A response and a short name for failure messages.
struct Response {
    const char* name;
    std::string text;
};

void PrintTo(const Response& response, std::ostream* os) {
    *os << response.name;
}

class SlugTexts : public testing::TestWithParam<Response> {};

} // namespace

TEST_P(SlugTexts, AgreeWithTheDocument) {
    const std::string& text = GetParam().text;
    const std::optional<std::vector<QString>> expected = DocumentSlugs(text);
    const std::optional<JsonTextRuns> runs = JsonArrayMemberTexts(text, "resources", "slug");
    ASSERT_EQ(runs.has_value(), expected.has_value());
    if (!runs)
        return;
    std::vector<QString> slugs;
    for (std::size_t run = 0; run < runs->runs.size(); ++run) {
        const std::string_view slug = runs->Text(run);
        slugs.insert(slugs.end(), runs->runs[run].count,
                     QString::fromUtf8(slug.data(), static_cast<qsizetype>(slug.size())));
        // Equal neighbours are one run.
        EXPECT_TRUE(run == 0 || runs->Text(run - 1) != slug) << run;
    }
    EXPECT_EQ(runs->ElementCount(), slugs.size());
    ASSERT_EQ(slugs.size(), expected->size());
    for (std::size_t i = 0; i < slugs.size(); ++i)
        EXPECT_EQ(slugs[i].toStdString(), (*expected)[i].toStdString()) << "element " << i;
}

INSTANTIATE_TEST_SUITE_P(
    JsonArrayMemberTexts, SlugTexts,
    testing::Values(
        Response{"plain", R"({"resources":[{"slug":"a"},{"slug":"b"},{"id":1}]})"},
        Response{"empty array", R"({"resources":[]})"},
        // Of duplicate names the last counts, whatever the earlier one held.
        Response{"array twice", R"({"resources":[{"slug":"a"}],"resources":[{"slug":"b"},{}]})"},
        Response{"array then null", R"({"resources":[{"slug":"a"}],"resources":null})"},
        Response{"number then array",
                 R"({"resources":7,"x":[1],"resources":[{"slug":"x"}],"y":{"resources":5}})"},
        // Values after the array at the depths of its elements and members.
        Response{"containers after the array",
                 R"({"resources":[{"slug":"a"},{"slug":[]}],"":{"":[1,{"k":2},"s"],)"
                 R"("x":[[{"slug":"z"}],{"slug":{"q":1}}]},"z":[{"slug":"w"}]})"},
        Response{"slug twice", R"({"resources":[{"slug":"a","slug":"b"},)"
                               R"({"slug":{"x":1},"id":2,"slug":3},{"slug":"a","slug":[1,2]},)"
                               R"({"slug":[{"a":1}],"slug":"c"}]})"},
        // Not an array, not at the root, not an object at the root.
        Response{"object", R"({"resources":{"slug":"a"}})"},
        Response{"nested", R"({"x":{"resources":[{"slug":"b"}]}})"},
        Response{"root array", R"([{"resources":[{"slug":"a"}]}])"},
        Response{"root string", R"("resources")"}, Response{"empty", ""}, Response{"blank", "  \n"},
        Response{"comment only", "/* only */"},
        // Elements that are not objects, slugs that are not where they are read.
        Response{"element kinds", R"({"resources":[null,1,"s",[{"slug":"in"}],true,)"
                                  R"({"slug":null},{},{"x":{"slug":"d"}}]})"},
        // Numbers and literals as the document writes them.
        Response{"numbers",
                 R"({"resources":[{"slug":12},{"slug":-7},{"slug":18446744073709551615},)"
                 R"({"slug":1.5},{"slug":1e5},{"slug":1E15},{"slug":1e16},{"slug":-0.0},)"
                 R"({"slug":0.1e1},{"slug":1e-7},{"slug":-9223372036854775808},)"
                 R"({"slug":123456789012345678901234567890},{"slug":true},{"slug":false},)"
                 R"({"slug":null},{"slug":-0}]})"},
        Response{"string escapes",
                 R"({"resources":[{"slug":"a\"b\\c\/d\u0000e\u00e9\ud83d\ude00\n\u001f"}]})"},
        // Nested values: names sorted bytewise, escapes decoded for the order.
        Response{"unsorted names", R"({"resources":[{"slug":{"b":1,"a":{"z":[1,{"y":2,"x":3}],)"
                                   R"("c":null},"b":2,"":"e"}}]})"},
        Response{"escaped names",
                 R"({"resources":[{"slug":{"A":1,"\n":2,"\u0001":3,"\"":4,"\\":5,"é":6,"a":7,)"
                 R"("ab":8,"a\u0000":9,"\u007f":10,"/":11,"я":12,"\t":13,"\b":14,"\f":15,"\r":16,)"
                 R"("\u001F":17}}]})"},
        Response{"long names",
                 R"({"resources":[{"slug":{"abcdefghij":1,"abcdefgh":2,"abcdefghi":3,)"
                 R"("abcdefgh\u0000":4,"abcdefghia":5,"abcdefg":6,"abcdefgh":7,"abcdefghij":8,)"
                 R"("abcdefgé":9,"abcdefghé":10,"\u0000":11,"":12}}]})"},
        Response{"arrays of objects", R"({"resources":[{"slug":[{"b":1,"a":2},[],{},)"
                                      R"([{"d":{"c":1,"b":{}}}],"x\"y",2.50]}]})"},
        Response{"duplicate names", R"({"resources":[{"slug":{"k":{"b":1},"k":{"a":2},"j":[],)"
                                    R"("k":{"c":[{"z":1,"z":2}]}}}]})"},
        Response{"escaped member names",
                 R"({"res\u006furces":[{"sl\u0075g":"x"},{"slug":{"\u0062":1,"a":2}}]})"},
        // Equal neighbours, also when only their sorted text is equal.
        Response{"equal neighbours",
                 R"({"resources":[{},{},null,{"slug":""},{"slug":"a"},{"slug":"a"},)"
                 R"({"slug":{"b":1,"a":1}},{"slug":{"a":1,"b":1}},{"slug":"{\"a\":1,\"b\":1}"}]})"},
        // Comments, trailing text, broken and incomplete documents.
        Response{"comments",
                 "// c\n{\"resources\": /* x */ [ {\"slug\" : /* y */ \"a\"} // z\n ]}"},
        Response{"trailing text", R"({"resources":[{"slug":"a"}]} ]]] {"resources":[]})"},
        Response{"cut after the array", R"({"resources":[{"slug":"a"}])"},
        Response{"cut in a slug", R"({"resources":[{"slug":"a")"},
        Response{"error after the array", R"({"resources":[{"slug":"a"}],"x":tru})"},
        Response{"error in a slug", R"({"resources":[{"slug":{"a":1,}}]})"},
        Response{"number overflow", R"({"resources":[{"slug":1e400}]})"},
        Response{"lone surrogate", R"({"resources":[{"slug":"\ud800"}]})"},
        Response{"invalid UTF-8", "{\"resources\":[{\"slug\":\"a\xff\"}]}"},
        // Hostile shapes.
        Response{"deep slug", DeepSlug(3000)}, Response{"wide slug", WideSlug(5000)},
        Response{"many elements", ManyElements(20000)}));
